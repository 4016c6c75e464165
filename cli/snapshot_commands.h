#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli/fleet.h"
#include "groups/unit_settings.h"
#include "unit_link/unit_link.h"

namespace vantrel::cli {

/// Prints one line for a unit, as the tool's other commands do: "127.0.0.2: ...".
using UnitSay = std::function<void(const std::string& line)>;

/// Reads the unit's settings into `captured`; done with their fingerprint.
Verdict CaptureUnit(UnitLink& link, bool network, std::optional<groups::UnitSettings>& captured);
/// A line per setting that the unit shows otherwise than `wanted`; done once read.
Verdict DiffUnit(UnitLink& link, const groups::UnitSettings* wanted, const UnitSay& say);
/// The plan, and unless `dryRun` its steps carried out with a line each; done when the unit
/// would take every step (dry run) or took them all.
Verdict ApplyUnit(UnitLink& link, const groups::UnitSettings* wanted, bool network, bool dryRun,
                  const UnitSay& say);

}  // namespace vantrel::cli

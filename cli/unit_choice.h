#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "groups/checked.h"
#include "groups/snapshot.h"
#include "groups/units_file.h"

namespace vantrel::cli {

/// The options that name the units a run is for.
struct UnitChoice {
    std::vector<std::string> units;  // --unit
    std::string unitsFile;           // --units-file
    std::string selector;            // --select
    std::optional<std::size_t> confirm;
};

/// The units file's units and those named by --unit; without either, the snapshot's own (when
/// there is one); then those that the selector picks. The reason, for a person, when no unit
/// is left, a file does not read or the selector is refused.
groups::Checked<std::vector<groups::UnitEntry>, std::string> ChooseUnits(
    const UnitChoice& choice, const groups::Snapshot* snapshot);

}  // namespace vantrel::cli

#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "clients/report.h"
#include "groups/units_file.h"
#include "unit_link/unit_checks.h"

namespace vantrel::gateway {

using clients::WallTime;
using Steady = std::chrono::steady_clock;

/// Maintenance: a net controller update waits for the unit's power cycle, so it cannot answer.
enum class LinkState : std::uint8_t { Connecting, Up, Down, Maintenance };
const char* LinkStateName(LinkState state);

/// What the units file says of a unit besides its address: a name ("" for none) and labels.
struct UnitNaming {
    std::string name;
    groups::Labels labels;
};

/// One unit as the gateway last knew it: its link and every value with the time it was read.
struct UnitSnapshot {
    std::string unit;
    UnitNaming naming;
    LinkState link = LinkState::Connecting;
    std::string reason;  // why it is not up; empty while up
    WallTime since{};
    std::int64_t reconnects = 0;
    /// Status, network settings and versions as last read; none before the first read.
    std::optional<UnitReading> reading;
    WallTime statusTime{}, networkTime{}, versionsTime{};
    /// When the unit last answered a poll, and how often it is polled.
    Steady::time_point lastAnswer{};
    std::chrono::milliseconds poll{};
};

}  // namespace vantrel::gateway

#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/report.h"
#include "unit/unit_checks.h"

namespace vantrel::gateway {

using cli::WallTime;
using Steady = std::chrono::steady_clock;

enum class LinkState : std::uint8_t { Connecting, Up, Down };
const char* LinkStateName(LinkState state);

/// One unit as the gateway last knew it: its link and every value with the time it was read.
struct UnitSnapshot {
    std::string unit;
    LinkState link = LinkState::Connecting;
    std::string reason;  // why it is connecting or down; empty while up
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

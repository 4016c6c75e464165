#pragma once

#include <cstdint>

#include "unit/clock.h"

namespace vantrel {

// The serial-use state (the panel's m_nSerialState): which of the status poll and the panel
// commands holds the port. Both run on the window's thread; the state keeps them apart when a
// message box nests a message loop while a port is open.
constexpr std::uint8_t kSerialFree = 0;
constexpr std::uint8_t kSerialPolling = 1;
constexpr std::uint8_t kSerialCommand = 2;

/// A command exchange first waits while the status poll holds the port, checking every 30 ms.
void WaitWhileStatusPoll(const std::uint8_t& serialState, Clock& clock);

/// The status poll takes the port unless a command exchange holds it; false: skip this tick.
bool BeginStatusPoll(std::uint8_t& serialState);

}  // namespace vantrel

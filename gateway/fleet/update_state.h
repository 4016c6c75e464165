#pragma once

#include <cstdint>

namespace vantrel::gateway {

/// Where one unit's firmware update is in its job.
enum class UpdateState : std::uint8_t {
    kQueued,
    kRunning,
    kPowerCycle,  // a net update waits for the unit's power cycle
    kDone,
    kFailed,
    kNotStarted,  // held back: a canary unit was not updated, or the job had its most failures
};

/// As the job's JSON and the audit log name it: "queued", "power-cycle", "not started".
const char* UpdateStateName(UpdateState state);
/// Done, failed or not started: nothing more happens to the unit in this job.
bool HasEnded(UpdateState state);

}  // namespace vantrel::gateway

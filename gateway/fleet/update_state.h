#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel::gateway {

/// Where one unit's firmware update is in its job.
enum class UpdateState : std::uint8_t {
    kQueued,
    kRunning,
    kPowerCycle,  // a net update waits for the unit's power cycle
    kDone,
    kFailed,
    kNotStarted,  // held back: a canary unit was not updated, or the job had its most failures
    /// Its gateway went away before the update ended: the update may have been cut mid-way.
    /// Only ever seen by the other gateways, which tell it from the job their peer published.
    kInterrupted,
};

/// As the job's JSON and the audit log name it: "queued", "power-cycle", "not started",
/// "interrupted".
const char* UpdateStateName(UpdateState state);
/// The state a job's JSON names; none for a name that is not one.
std::optional<UpdateState> UpdateStateOf(const std::string& name);
/// Done, failed or not started: nothing more happens to the unit in this job.
bool HasEnded(UpdateState state);

}  // namespace vantrel::gateway

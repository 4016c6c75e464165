#include "gateway/fleet/update_state.h"

namespace vantrel::gateway {

const char* UpdateStateName(UpdateState state) {
    switch (state) {
        case UpdateState::kQueued:
            return "queued";
        case UpdateState::kRunning:
            return "running";
        case UpdateState::kPowerCycle:
            return "power-cycle";
        case UpdateState::kDone:
            return "done";
        case UpdateState::kFailed:
            return "failed";
        case UpdateState::kNotStarted:
            return "not started";
        case UpdateState::kInterrupted:
            return "interrupted";
    }
    return "queued";
}

std::optional<UpdateState> UpdateStateOf(const std::string& name) {
    for (const UpdateState state :
         {UpdateState::kQueued, UpdateState::kRunning, UpdateState::kPowerCycle, UpdateState::kDone,
          UpdateState::kFailed, UpdateState::kNotStarted, UpdateState::kInterrupted}) {
        if (name == UpdateStateName(state)) return state;
    }
    return std::nullopt;
}

bool HasEnded(UpdateState state) {
    return state == UpdateState::kDone || state == UpdateState::kFailed ||
           state == UpdateState::kNotStarted;
}

}  // namespace vantrel::gateway

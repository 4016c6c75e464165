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
    }
    return "queued";
}

bool HasEnded(UpdateState state) {
    return state == UpdateState::kDone || state == UpdateState::kFailed ||
           state == UpdateState::kNotStarted;
}

}  // namespace vantrel::gateway

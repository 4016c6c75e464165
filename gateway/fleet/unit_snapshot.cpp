#include "gateway/fleet/unit_snapshot.h"

namespace vantrel::gateway {

const char* LinkStateName(LinkState state) {
    switch (state) {
        case LinkState::Connecting:
            return "connecting";
        case LinkState::Up:
            return "up";
        case LinkState::Down:
            return "down";
        case LinkState::Maintenance:
            return "maintenance";
    }
    return "down";
}

}  // namespace vantrel::gateway

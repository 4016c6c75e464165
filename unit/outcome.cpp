#include "unit/outcome.h"

namespace vantrel {

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::kNone:
            return "done";
        case Fault::kNothingReceived:
            return "no reply";
        case Fault::kBadReply:
            return "a reply that failed its check";
        case Fault::kSendFailed:
            return "send failed";
        case Fault::kNotOpened:
            return "link did not open";
        case Fault::kStopped:
            return "stopped";
        case Fault::kRefused:
            return "refused by the unit";
        case Fault::kNoFile:
            return "no such file";
        case Fault::kBadImage:
            return "not a firmware image";
        case Fault::kImageTooShort:
            return "image too short to flash";
        case Fault::kImageTooLarge:
            return "image too large for the flash";
        case Fault::kLoginRefused:
            return "login not accepted";
        case Fault::kClosedAtLogin:
            return "the unit closed the connection during login";
    }
    return "unknown";
}

}  // namespace vantrel

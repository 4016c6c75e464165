#include "sim/faults.h"

#include <cstdlib>
#include <utility>

namespace vantrel::sim {

namespace {

// A count after "name=": digits only, so "close-after=x" is refused rather than taken as 0.
bool ParseCount(const std::string& text, const std::string& name, int& out) {
    if (text.compare(0, name.size(), name) != 0 || text.size() == name.size()) return false;
    std::string digits = text.substr(name.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    out = std::atoi(digits.c_str());
    return true;
}

}  // namespace

bool ParseFault(const std::string& text, Faults& faults) {
    const std::pair<const char*, bool Faults::*> switches[] = {
        {"silent-after-login", &Faults::silentAfterLogin},
        {"short", &Faults::shortReplies},
        {"stuck-levels", &Faults::stuckLevels},
        {"garbage", &Faults::garbageReplies},
        {"refuse-login", &Faults::refuseLogin},
        {"close-at-password", &Faults::closeAtPassword},
    };
    for (const auto& [name, field] : switches) {
        if (text == name) {
            faults.*field = true;
            return true;
        }
    }
    return ParseCount(text, "close-after=", faults.closeAfter) ||
           ParseCount(text, "silent-after=", faults.silentAfter) ||
           ParseCount(text, "delay=", faults.delayMs) || ParseLoaderFault(text, faults.loader);
}

}  // namespace vantrel::sim

#include "sim/faults.h"

#include <cstdlib>

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
    if (text == "silent-after-login") {
        faults.silentAfterLogin = true;
        return true;
    }
    if (text == "short") {
        faults.shortReplies = true;
        return true;
    }
    if (text == "stuck-levels") {
        faults.stuckLevels = true;
        return true;
    }
    if (text == "garbage") {
        faults.garbageReplies = true;
        return true;
    }
    return ParseCount(text, "close-after=", faults.closeAfter) ||
           ParseCount(text, "delay=", faults.delayMs) || ParseLoaderFault(text, faults.loader);
}

}  // namespace vantrel::sim

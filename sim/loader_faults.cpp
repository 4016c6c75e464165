#include "sim/loader_faults.h"

#include <cstdlib>

namespace vantrel::sim {
namespace {

bool ParseNumber(const std::string& text, const std::string& name, int& out) {
    if (text.compare(0, name.size(), name) != 0 || text.size() == name.size()) return false;
    const std::string digits = text.substr(name.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    out = std::atoi(digits.c_str());
    return out > 0;
}

}  // namespace

bool ParseLoaderFault(const std::string& text, LoaderFaults& faults) {
    if (text == "loader-bare-ok") {
        faults.bareOk = true;
        return true;
    }
    if (text == "loader-split-ok") {
        faults.splitOk = true;
        return true;
    }
    return ParseNumber(text, "loader-nak=", faults.nakAt) ||
           ParseNumber(text, "loader-silent=", faults.silentFrom) ||
           ParseNumber(text, "loader-late-download=", faults.lateDownloadMs);
}

}  // namespace vantrel::sim

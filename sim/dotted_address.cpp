#include "sim/dotted_address.h"

namespace vantrel::sim {

bool ParseDotted(const std::string& text, uint32_t& address) {
    uint32_t result = 0;
    size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        if (pos == start || value > 255) return false;
        result = (result << 8) | value;
    }
    if (pos != text.size()) return false;
    address = result;
    return true;
}

}  // namespace vantrel::sim

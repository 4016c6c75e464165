#include "clients/dotted_address.h"

#include "unit/console_reply.h"

namespace vantrel::clients {

// By hand rather than sscanf or inet_aton: both take signs, spaces, octal or values that wrap.
bool ParseDotted(const std::string& text, uint32_t& address) {
    uint32_t value = 0;
    size_t at = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0 && (at >= text.size() || text[at++] != '.')) return false;
        const size_t start = at;
        uint32_t number = 0;
        while (at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9') {
            number = number * 10 + static_cast<uint32_t>(text[at++] - '0');
        }
        const size_t digits = at - start;
        if (digits == 0 || number > 255 || (digits > 1 && text[start] == '0')) return false;
        value = value << 8 | number;
    }
    if (at != text.size()) return false;
    address = value;
    return true;
}

std::string Dotted(uint32_t address) {
    char text[16];
    FormatDotted(address, text);
    return text;
}

}  // namespace vantrel::clients

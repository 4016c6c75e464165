#include "cli/dotted_address.h"

#include <cstdio>

#include "unit/console_reply.h"

namespace vantrel::cli {

bool ParseDotted(const std::string& text, uint32_t& address) {
    unsigned a, b, c, d;
    char end;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    address = (a << 24) | (b << 16) | (c << 8) | d;
    return true;
}

std::string Dotted(uint32_t address) {
    char text[16];
    FormatDotted(address, text);
    return text;
}

}  // namespace vantrel::cli

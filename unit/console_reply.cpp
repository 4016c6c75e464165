#include "unit/console_reply.h"

#include <cstdio>
#include <limits>

namespace vantrel {

namespace {

bool IsSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t ParseLevelReply(const uint8_t* reply, int count) {
    int i = 0;
    while (i < count && IsSpace(reply[i])) ++i;
    bool negative = false;
    if (i < count && (reply[i] == '+' || reply[i] == '-')) negative = reply[i++] == '-';
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (; i < count && IsDigit(reply[i]); ++i) {
        value = value * 10 + (reply[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

bool StartsWithLevel(const uint8_t* reply, int count) {
    int i = 0;
    while (i < count && IsSpace(reply[i])) ++i;
    if (i < count && (reply[i] == '+' || reply[i] == '-')) ++i;
    return i < count && IsDigit(reply[i]);
}

void FormatMac(const MacAddress& mac, char (&text)[13]) {
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
}

bool AddressFromReply(const uint8_t* reply, int count, uint32_t& address) {
    if (count < 4) return false;
    address =
        uint32_t{reply[0]} << 24 | uint32_t{reply[1]} << 16 | uint32_t{reply[2]} << 8 | reply[3];
    return true;
}

void FormatDotted(uint32_t address, char (&text)[16]) {
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(address >> 24),
                  static_cast<int>((address >> 16) & 255), static_cast<int>((address >> 8) & 255),
                  static_cast<int>(address & 255));
}

}  // namespace vantrel

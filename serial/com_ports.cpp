#include "serial/com_ports.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vantrel {
namespace {

// atoi's reading, with the value clamped to the 32-bit range instead of overflowing.
std::int32_t LeadingInteger(const char* text) {
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<std::int32_t> ComPortFromFriendlyName(const char* name) {
    const char* found = std::strstr(name, "(COM");
    if (found == nullptr) return std::nullopt;
    return LeadingInteger(found + 4);
}

std::optional<std::int32_t> ComPortFromDeviceName(const char* name) {
    if (std::strncmp(name, "COM", 3) != 0) return std::nullopt;
    const char* digits = name + 3;
    if (*digits == '\0') return std::nullopt;
    for (const char* c = digits; *c != '\0'; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c))) return std::nullopt;
    }
    return LeadingInteger(digits);
}

void CollectComPorts(const std::vector<std::string>& names,
                     std::optional<std::int32_t> (*parse)(const char*), std::int32_t* ports,
                     std::int32_t* count) {
    *count = 0;
    for (const std::string& name : names) {
        if (*count == kMaxComPorts) return;
        std::optional<std::int32_t> port = parse(name.c_str());
        if (port) ports[(*count)++] = *port;
    }
}

}  // namespace vantrel

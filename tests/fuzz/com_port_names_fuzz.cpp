// The COM port number readers on device names as the system could report them. The input is
// a list of names, one per line; each is cut to the 255 characters that the 256-byte
// friendly-name buffer holds.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/com_ports.h"
#include "tests/fuzz/fuzz_check.h"

namespace vantrel::fuzzing {
namespace {

constexpr std::size_t kNameBuffer = 256;

// atoi's value of text when it fits in 32 bits without doubt (at most nine digits).
std::optional<std::int32_t> ShortAtoi(const char* text) {
    const char* c = text;
    while (std::isspace(static_cast<unsigned char>(*c))) ++c;
    if (*c == '+' || *c == '-') ++c;
    std::size_t digits = 0;
    while (std::isdigit(static_cast<unsigned char>(c[digits]))) ++digits;
    if (digits > 9) return std::nullopt;
    return std::atoi(text);
}

void CheckFriendlyName(const char* name) {
    const std::optional<std::int32_t> port = ComPortFromFriendlyName(name);
    const char* mark = std::strstr(name, "(COM");
    Require(port.has_value() == (mark != nullptr), "a number comes only from a \"(COM\" name");
    if (!port) return;
    const std::optional<std::int32_t> expected = ShortAtoi(mark + 4);
    Require(!expected || *port == *expected, "the number is atoi's after the first \"(COM\"");
}

void CheckDeviceName(const char* name) {
    const std::optional<std::int32_t> port = ComPortFromDeviceName(name);
    const std::size_t length = std::strlen(name);
    bool digitsOnly = length > 3 && std::strncmp(name, "COM", 3) == 0;
    for (std::size_t i = 3; digitsOnly && i < length; ++i) {
        digitsOnly = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
    }
    Require(port.has_value() == digitsOnly, "a device name is COM and digits only");
    const std::optional<std::int32_t> expected = digitsOnly ? ShortAtoi(name + 3) : std::nullopt;
    Require(!expected || *port == *expected, "the device name's number is its digits");
}

void CheckCollect(const std::vector<std::string>& names) {
    std::unique_ptr<std::int32_t[]> ports(new std::int32_t[kMaxComPorts]);
    std::int32_t count = -1;
    CollectComPorts(names, ComPortFromFriendlyName, ports.get(), &count);
    std::int32_t expected = 0;
    for (const std::string& name : names) {
        if (expected == kMaxComPorts) break;
        const std::optional<std::int32_t> port = ComPortFromFriendlyName(name.c_str());
        if (!port) continue;
        Require(ports[expected] == *port, "ports are stored in the order they are found");
        ++expected;
    }
    Require(count == expected, "the count is the number of ports stored, ten at most");
}

}  // namespace
}  // namespace vantrel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> names;
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t start = 0;
    while (start <= size) {
        const void* newline = std::memchr(text + start, '\n', size - start);
        const std::size_t end = newline ? static_cast<const char*>(newline) - text : size;
        std::string name(text + start, std::min(end - start, vantrel::fuzzing::kNameBuffer - 1));
        name = name.c_str();  // the system's text ends at its first NUL
        // Exactly as long as the name, so that a read past its end is caught.
        std::unique_ptr<char[]> exact(new char[name.size() + 1]);
        std::memcpy(exact.get(), name.c_str(), name.size() + 1);
        vantrel::fuzzing::CheckFriendlyName(exact.get());
        vantrel::fuzzing::CheckDeviceName(exact.get());
        names.push_back(name);
        start = end + 1;
    }
    vantrel::fuzzing::CheckCollect(names);
    return 0;
}

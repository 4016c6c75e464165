#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vantrel::testing {

/// One Intel HEX record with its checksum and a CR LF, as a HEX tool writes it.
inline std::string HexRecord(unsigned type, unsigned address, const std::vector<uint8_t>& data) {
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  address & 0xFFFF, type);
    std::string record = text;
    unsigned sum =
        static_cast<unsigned>(data.size()) + (address >> 8 & 0xFF) + (address & 0xFF) + type;
    for (uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        record += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X\r\n", -sum & 0xFF);
    return record + text;
}

/// The image as Intel HEX: data records of `perRecord` bytes, an extended linear address
/// record at each 64 KiB, and the end record.
inline std::string HexOf(const std::vector<uint8_t>& image, std::size_t perRecord = 32) {
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += perRecord) {
        if (at % 0x10000 == 0) {
            text +=
                HexRecord(4, 0, {static_cast<uint8_t>(at >> 24), static_cast<uint8_t>(at >> 16)});
        }
        const std::size_t end = std::min(image.size(), at + perRecord);
        text += HexRecord(0, static_cast<unsigned>(at),
                          std::vector<uint8_t>(image.begin() + at, image.begin() + end));
    }
    return text + HexRecord(1, 0, {});
}

}  // namespace vantrel::testing

#include "firmware/crc16.h"

#include <array>

namespace vantrel::firmware {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        std::uint16_t crc = static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[byte] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t count) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(crc << 8 ^ kTable[(crc >> 8 ^ data[i]) & 0xFF]);
    }
    return crc;
}

}  // namespace vantrel::firmware

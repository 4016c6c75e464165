#include "firmware/crc32.h"

#include <array>

namespace vantrel::firmware {
namespace {

constexpr std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[byte] = crc;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t count, std::uint32_t crc) {
    crc = ~crc;
    for (std::size_t i = 0; i < count; ++i) crc = crc >> 8 ^ kTable[(crc ^ data[i]) & 0xFF];
    return ~crc;
}

}  // namespace vantrel::firmware

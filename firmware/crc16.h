#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::firmware {

/// CRC-16 with polynomial 0x1021, initial value 0, no reflection and no final XOR (the
/// parameters known as CRC-16/XMODEM), one table look-up per byte.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t count);

}  // namespace vantrel::firmware

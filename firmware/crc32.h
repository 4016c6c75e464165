#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::firmware {

/// CRC-32 as zlib's crc32() and Ethernet compute it (reflected polynomial 0xEDB88320, initial
/// value and final XOR 0xFFFFFFFF). Written here because the Windows build has no zlib; give the
/// previous result as `crc` to continue over a second piece.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t count, std::uint32_t crc = 0);

}  // namespace vantrel::firmware

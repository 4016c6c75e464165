#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "firmware/hex_conversion.h"
#include "firmware/image.h"

namespace vantrel::firmware {

/// What an update would send from a file, found without a unit.
struct ImageInfo {
    /// As BuildImage ends; the fields below are set only when it is kNone.
    Fault result = Fault::kNoFile;
    /// True when the file was Intel HEX and was converted; false for a raw binary image.
    bool convertedFromHex = false;
    std::uint32_t fileSize = 0;
    /// The bytes the update sends.
    std::int32_t length = 0;
    /// The image's addresses: for HEX the lowest and highest written, for a raw binary image
    /// 0 to length - 1. None for a HEX file that writes no byte.
    std::optional<HexAddressRange> addresses;
    /// CRC-32 (zlib's) of the `length` bytes sent.
    std::uint32_t crc32 = 0;
    /// The net controller's flash takes fewer bytes than this image has: its update would stop
    /// before writing. Always false for the main controller.
    bool tooLargeForNetFlash = false;
};

/// Builds the controller's image from `path` (BuildImage) and describes it.
ImageInfo DescribeImage(const std::string& path, Controller controller);

}  // namespace vantrel::firmware

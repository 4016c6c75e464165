#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "firmware/hex_conversion.h"
#include "firmware/prepare_image.h"

namespace vantrel::firmware {

/// What a Burn would send from a file, found without a unit.
struct ImageInfo {
    /// As the Burn's own preparation ends; the fields below are set only when Ready.
    PrepareResult result = PrepareResult::NoFile;
    /// True when the file was Intel HEX and was converted; false for a raw binary image.
    bool convertedFromHex = false;
    std::uint32_t fileSize = 0;
    /// The bytes the Burn sends.
    std::int32_t length = 0;
    /// The image's addresses: for HEX the lowest and highest written, for a raw binary image
    /// 0 to length - 1. None for a HEX file that writes no byte.
    std::optional<HexAddressRange> addresses;
    /// CRC-32 (zlib's) of the `length` bytes sent.
    std::uint32_t crc32 = 0;
    /// The net controller's flash takes fewer bytes than this image has: its Burn would stop
    /// before writing. Always false for the main controller.
    bool tooLargeForNetFlash = false;
};

/// Runs the Burn's preparation of `path` for the controller (PrepareImage, showing nothing) and
/// describes the image it builds. A file the panel refuses gives that PrepareResult, whose
/// PrepareFailureText is the panel's own text.
ImageInfo DescribeImage(const std::string& path, Controller controller);

}  // namespace vantrel::firmware

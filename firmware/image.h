#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "unit/outcome.h"

namespace vantrel::firmware {

enum class Controller : std::uint8_t { kMain, kNet };

/// A HEX converter's working buffer: the file's bytes in, the image built in place out, its
/// first `length` bytes.
struct ImageSlot {
    std::vector<std::uint8_t> buffer;
    std::int32_t length = 0;
};

/// The bytes an update sends, built once from a file and shared by every unit it goes to.
struct Image {
    std::vector<std::uint8_t> bytes;
    /// The file's own size, also when no image came of it.
    std::uint32_t fileSize = 0;
    bool fromHex = false;
};

/// Builds the controller's image from a file's bytes: Intel HEX (it begins with ':') is
/// converted, anything else is the image as it is. A file of 256 bytes or less is
/// kImageTooShort; HEX that does not convert is kBadImage. A failure keeps fileSize.
Result<Image> BuildImage(std::vector<std::uint8_t> file, Controller controller);
/// The whole file at `path`; one that cannot be read is kNoFile.
Result<std::vector<std::uint8_t>> ReadImageFile(const std::string& path);
/// BuildImage of the file at `path`, as ReadImageFile reads it.
Result<Image> BuildImage(const std::string& path, Controller controller);
/// Whether the controller's flash takes the image: a net image past the net flash's last
/// block is kImageTooLarge. The flash writer refuses it too, but only once the unit was
/// power-cycled into its loader; the tool and the service ask before they start.
Outcome CheckFitsFlash(const Image& image, Controller controller);

}  // namespace vantrel::firmware

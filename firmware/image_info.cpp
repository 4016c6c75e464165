#include "firmware/image_info.h"

#include <utility>

#include "firmware/crc32.h"

namespace vantrel::firmware {

ImageInfo DescribeImage(const std::string& path, Controller controller) {
    ImageInfo info;
    Result<std::vector<std::uint8_t>> file = ReadImageFile(path);
    info.result = file.GetFault();
    if (!file.Ok()) return info;
    const Result<Image> image = BuildImage(file.Value(), controller);
    info.result = image.GetFault();
    if (!image.Ok()) return info;

    const std::vector<std::uint8_t>& bytes = image.Value().bytes;
    info.length = static_cast<std::int32_t>(bytes.size());
    info.crc32 = Crc32(bytes.data(), bytes.size());
    info.tooLargeForNetFlash = !CheckFitsFlash(image.Value(), controller).Ok();
    info.fileSize = image.Value().fileSize;
    info.convertedFromHex = image.Value().fromHex;
    if (info.convertedFromHex) {
        // The conversion is run again on the file's text for the addresses it writes.
        ImageSlot text;
        text.buffer = std::move(file.Value());
        text.length = static_cast<std::int32_t>(text.buffer.size());
        info.addresses = HexWrittenRange(std::move(text), controller);
    } else {
        info.addresses = HexAddressRange{0, static_cast<std::uint32_t>(bytes.size() - 1)};
    }
    return info;
}

}  // namespace vantrel::firmware

#include "firmware/image.h"

#include <cstdio>
#include <limits>
#include <memory>

#include "firmware/hex_conversion.h"
#include "firmware/net_flash.h"

namespace vantrel::firmware {
namespace {

// A file of this size or less is not taken: no firmware is that small.
constexpr std::size_t kSmallestFile = 256;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

long FileSize(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    return std::fseek(file, 0, SEEK_SET) == 0 ? size : -1;
}

}  // namespace

Result<Image> BuildImage(std::vector<std::uint8_t> file, Controller controller) {
    Image image;
    if (file.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return Failure{Fault::kBadImage};
    }
    image.fileSize = static_cast<std::uint32_t>(file.size());
    if (file.size() <= kSmallestFile) return {Failure{Fault::kImageTooShort}, image};
    image.fromHex = file[0] == ':';
    if (!image.fromHex) {
        image.bytes = std::move(file);
        return image;
    }
    ImageSlot slot;
    slot.length = static_cast<std::int32_t>(file.size());
    slot.buffer = std::move(file);
    const bool converted =
        controller == Controller::kMain ? ConvertMainHex(slot) : ConvertNetHex(slot);
    if (!converted) return {Failure{Fault::kBadImage}, image};
    slot.buffer.resize(static_cast<std::size_t>(slot.length));
    image.bytes = std::move(slot.buffer);
    return image;
}

Result<std::vector<std::uint8_t>> ReadImageFile(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (path.empty() || !file) return Failure{Fault::kNoFile};
    const long size = FileSize(file.get());
    if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) {
        return Failure{Fault::kNoFile};
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return Failure{Fault::kNoFile};
    }
    return bytes;
}

Outcome CheckFitsFlash(const Image& image, Controller controller) {
    if (controller == Controller::kNet &&
        image.bytes.size() > static_cast<std::size_t>(kLargestNetImage)) {
        return Failure{Fault::kImageTooLarge};
    }
    return {};
}

Result<Image> BuildImage(const std::string& path, Controller controller) {
    Result<std::vector<std::uint8_t>> file = ReadImageFile(path);
    if (!file.Ok()) return file.GetFailure();
    return BuildImage(std::move(file.Value()), controller);
}

}  // namespace vantrel::firmware

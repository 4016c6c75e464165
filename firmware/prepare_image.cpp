#include "firmware/prepare_image.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>

#include "firmware/firmware_ids.h"
#include "firmware/hex_conversion.h"

namespace vantrel::firmware {
namespace {

// A file of this size or less is not read: no firmware is that small.
constexpr long kSmallestFile = 256;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

long FileSize(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    return std::fseek(file, 0, SEEK_SET) == 0 ? size : -1;
}

}  // namespace

PrepareResult PrepareImage(ImageSlot& slot, Controller controller, FirmwareView& view) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(slot.path.c_str(), "rb"));
    if (slot.path.empty() || !file) return PrepareResult::NoFile;
    slot.buffer.clear();
    slot.length = 0;
    const long size = FileSize(file.get());
    if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) return PrepareResult::NoFile;

    char text[32];
    std::snprintf(text, sizeof text, "%d byte.", static_cast<int>(size));
    view.SetText(controller == Controller::Main ? kMainSizeText : kNetSizeText, text);
    if (size <= kSmallestFile) return PrepareResult::TooSmall;

    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
    if (std::fread(buffer.data(), 1, buffer.size(), file.get()) != buffer.size()) {
        return PrepareResult::NoFile;
    }
    slot.buffer = std::move(buffer);
    slot.length = static_cast<std::int32_t>(size);
    if (slot.buffer[0] != ':') return PrepareResult::Ready;
    const bool converted =
        controller == Controller::Main ? ConvertMainHex(slot) : ConvertNetHex(slot);
    if (converted) return PrepareResult::Ready;
    slot.buffer.clear();
    slot.length = 0;
    return PrepareResult::ConversionFailed;
}

const char* PrepareFailureText(PrepareResult result) {
    switch (result) {
        case PrepareResult::NoFile:
            return "Please load file first!";
        case PrepareResult::TooSmall:
            return "Fail to write flash!";
        case PrepareResult::ConversionFailed:
            return "Fail to convert the input from hex to bin!";
        case PrepareResult::Ready:
            break;
    }
    return "";
}

Failure PrepareFailure(PrepareResult result) {
    return {Fault::kBadImage, PrepareFailureText(result)};
}

}  // namespace vantrel::firmware

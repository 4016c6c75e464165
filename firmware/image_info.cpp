#include "firmware/image_info.h"

#include <fstream>
#include <iterator>

#include "firmware/crc32.h"
#include "firmware/net_flash.h"

namespace vantrel::firmware {
namespace {

// The preparation shows the file's size in the dialog; here nobody looks.
class NoView : public FirmwareView {
  public:
    void SetText(int, const char*) override {}
    void SetProgressRange(std::uint16_t) override {}
    void SetProgressPos(int) override {}
    void EnableControl(int, bool) override {}
    void SetCursor(Cursor) override {}
    void ShowMessage(const char*) override {}
};

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

}  // namespace

ImageInfo DescribeImage(const std::string& path, Controller controller) {
    ImageInfo info;
    ImageSlot slot;
    slot.path = path;
    NoView view;
    info.result = PrepareImage(slot, controller, view);
    if (info.result != PrepareResult::Ready) return info;

    info.length = slot.length;
    const auto length = static_cast<std::size_t>(slot.length);
    info.crc32 = Crc32(slot.buffer.data(), length);
    info.tooLargeForNetFlash = controller == Controller::Net && slot.length > kLargestNetImage;

    // The preparation converts in place, so the HEX text is read again for its addresses.
    ImageSlot text;
    text.buffer = ReadWhole(path);
    text.length = static_cast<std::int32_t>(text.buffer.size());
    info.fileSize = static_cast<std::uint32_t>(text.buffer.size());
    info.convertedFromHex = !text.buffer.empty() && text.buffer[0] == ':';
    if (info.convertedFromHex) {
        info.addresses = HexWrittenRange(std::move(text), controller);
    } else {
        info.addresses = HexAddressRange{0, static_cast<std::uint32_t>(length - 1)};
    }
    return info;
}

}  // namespace vantrel::firmware

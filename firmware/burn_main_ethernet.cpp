#include "firmware/burn_main_ethernet.h"

#include <cstring>
#include <string>

#include "firmware/bootloader_protocol.h"
#include "firmware/firmware_ids.h"
#include "firmware/prepare_image.h"
#include "firmware/stream_loader_link.h"
#include "unit/serial_frames.h"

namespace vantrel::firmware {
namespace {

constexpr Clock::Duration kLoaderStart{3000};

// Sends a console request and judges its reply as it comes: true as soon as the bytes in
// begin with "OK", line end or not. A receive that fails or times out ends it.
bool AnsweredOk(ByteStream& stream, const void* request, int count) {
    if (stream.Send(request, count) != count) return false;
    std::string reply;
    while (reply.size() < 2) {
        char part[StreamLoaderLink::kReceiveSize];
        const int n = stream.Receive(part, sizeof part);
        if (n <= 0) return false;
        reply.append(part, static_cast<std::size_t>(n));
        if (reply[0] != 'O') return false;
    }
    return reply.compare(0, 2, "OK") == 0;
}

void Run(FirmwareRecord& record, Clock& clock, FirmwareView& view) {
    if (record.linkDown == 1 || record.stream == nullptr) {
        view.SetText(kMainStatusText, "Ethernet is not connected!");
        return;
    }
    const PrepareResult prepared = PrepareImage(record.mainImage, Controller::Main, view);
    if (prepared != PrepareResult::Ready) {
        view.SetText(kMainStatusText, PrepareFailureText(prepared));
        return;
    }
    ByteStream& stream = *record.stream;
    static const char kFwUpdate[] = "FWUPDATE\r\n";
    if (!AnsweredOk(stream, kFwUpdate, static_cast<int>(std::strlen(kFwUpdate)))) {
        view.SetText(kMainStatusText, "Firmware update fail!");
        return;
    }
    const SerialFrame entry = BuildFrame(SerialUnit::Main, main_cmd::kEnterBootloader);
    if (!AnsweredOk(stream, entry.data(), static_cast<int>(entry.size()))) {
        view.SetText(kMainStatusText, "Firmware update fail");
        return;
    }
    clock.Sleep(kLoaderStart);
    view.SetText(kMainStatusText, "Ethernet is Connected!");
    view.SetCursor(FirmwareView::Cursor::Wait);

    const ImageSlot& image = record.mainImage;
    StreamLoaderLink link(stream, clock);
    if (!StartDownload(link, clock, static_cast<std::uint32_t>(image.length))) {
        view.SetCursor(FirmwareView::Cursor::Arrow);
        view.SetText(kMainStatusText, "Fail to connect to device!");
        return;
    }
    view.SetText(kMainStatusText, "Writing flash ... !");
    const bool written = SendImage(link, clock, kStreamPauses, image.buffer.data(), image.length,
                                   view, record.mainStop);
    view.SetCursor(FirmwareView::Cursor::Arrow);
    view.SetText(kMainStatusText, written ? "Firmware Updated!" : "Fail to write flash!");
}

}  // namespace

void BurnMainEthernet(FirmwareRecord& record, Clock& clock, FirmwareView& view) {
    Run(record, clock, view);
    view.EnableControl(kMainBurnButton, true);
}

}  // namespace vantrel::firmware

#include "firmware/burn_main_ethernet.h"

#include <cstring>
#include <string>

#include "firmware/bootloader_protocol.h"
#include "firmware/firmware_ids.h"
#include "firmware/prepare_image.h"
#include "firmware/procedure_outcomes.h"
#include "firmware/stream_loader_link.h"
#include "unit/serial_frames.h"

namespace vantrel::firmware {
namespace {

constexpr Clock::Duration kLoaderStart{3000};
constexpr Failure kNoSession{Fault::kNotOpened, "Ethernet is not connected!"};
// The console did not answer FWUPDATE, then the loader entry frame, with OK.
constexpr Failure kNoUpdate{Fault::kBadReply, "Firmware update fail!"};
constexpr Failure kNoEntry{Fault::kBadReply, "Firmware update fail"};

// Shows a failure's text and passes the failure on.
Outcome Shown(FirmwareView& view, const Failure& failure) {
    view.SetText(kMainStatusText, failure.text);
    return failure;
}

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

Outcome Run(FirmwareRecord& record, Clock& clock, FirmwareView& view) {
    if (record.linkDown == 1 || record.stream == nullptr) return Shown(view, kNoSession);
    const PrepareResult prepared = PrepareImage(record.mainImage, Controller::Main, view);
    if (prepared != PrepareResult::Ready) return Shown(view, PrepareFailure(prepared));
    ByteStream& stream = *record.stream;
    static const char kFwUpdate[] = "FWUPDATE\r\n";
    if (!AnsweredOk(stream, kFwUpdate, static_cast<int>(std::strlen(kFwUpdate)))) {
        return Shown(view, kNoUpdate);
    }
    const SerialFrame entry = BuildFrame(SerialUnit::Main, main_cmd::kEnterBootloader);
    if (!AnsweredOk(stream, entry.data(), static_cast<int>(entry.size()))) {
        return Shown(view, kNoEntry);
    }
    clock.Sleep(kLoaderStart);
    view.SetText(kMainStatusText, "Ethernet is Connected!");
    view.SetCursor(FirmwareView::Cursor::Wait);

    const ImageSlot& image = record.mainImage;
    StreamLoaderLink link(stream, clock);
    if (!StartDownload(link, clock, static_cast<std::uint32_t>(image.length))) {
        view.SetCursor(FirmwareView::Cursor::Arrow);
        return Shown(view, kNoLoader);
    }
    view.SetText(kMainStatusText, "Writing flash ... !");
    const bool written = SendImage(link, clock, kStreamPauses, image.buffer.data(), image.length,
                                   view, record.mainStop);
    view.SetCursor(FirmwareView::Cursor::Arrow);
    const Outcome outcome = WriteOutcome(written, record.mainStop);
    view.SetText(kMainStatusText, EndText(outcome));
    return outcome;
}

}  // namespace

Outcome BurnMainEthernet(FirmwareRecord& record, Clock& clock, FirmwareView& view) {
    const Outcome outcome = Run(record, clock, view);
    view.EnableControl(kMainBurnButton, true);
    return outcome;
}

}  // namespace vantrel::firmware

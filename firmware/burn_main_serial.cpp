#include "firmware/burn_main_serial.h"

#include "firmware/bootloader_protocol.h"
#include "firmware/dialog_port.h"
#include "firmware/firmware_ids.h"
#include "firmware/prepare_image.h"
#include "firmware/procedure_outcomes.h"
#include "firmware/serial_loader_link.h"
#include "unit/serial_exchanges.h"

namespace vantrel::firmware {
namespace {

Outcome Run(FirmwareRecord& record, SerialDevice& port, Clock& clock, FirmwareView& view) {
    const PrepareResult prepared = PrepareImage(record.mainImage, Controller::Main, view);
    if (prepared != PrepareResult::Ready) {
        view.SetText(kMainStatusText, PrepareFailureText(prepared));
        return PrepareFailure(prepared);
    }
    if (!OpenDialogPort(port, record.comPort, kMainLoaderBaud)) {
        view.SetText(kMainStatusText, kOpenFailed.text);
        port.Close();
        return kOpenFailed;
    }
    EnterLoader(port, clock);
    view.SetText(kMainStatusText, "COM port Connected!");
    view.SetCursor(FirmwareView::Cursor::Wait);
    SetLoaderTimeouts(port);

    const ImageSlot& image = record.mainImage;
    SerialLoaderLink link(port);
    Outcome outcome;
    if (!StartDownload(link, clock, static_cast<std::uint32_t>(image.length))) {
        view.SetCursor(FirmwareView::Cursor::Arrow);
        view.SetText(kMainStatusText, kNoLoader.text);
        outcome = kNoLoader;
    } else {
        view.SetText(kMainStatusText, "Writing flash ... !");
        const bool written = SendImage(link, clock, kSerialPauses, image.buffer.data(),
                                       image.length, view, record.mainStop);
        view.SetCursor(FirmwareView::Cursor::Arrow);
        outcome = WriteOutcome(written, record.mainStop);
        view.SetText(kMainStatusText, EndText(outcome));
    }
    port.Close();
    return outcome;
}

}  // namespace

Outcome BurnMainSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock,
                       FirmwareView& view) {
    Outcome outcome = kOccupied;
    {
        std::unique_lock<std::mutex> lock(record.portLock, std::try_to_lock);
        if (!lock.owns_lock() || PortOccupied(port, record.comPort, kMainLoaderBaud)) {
            view.ShowMessage(kPortOccupied);
        } else {
            outcome = Run(record, port, clock, view);
        }
    }
    view.EnableControl(kMainBurnButton, true);
    return outcome;
}

}  // namespace vantrel::firmware

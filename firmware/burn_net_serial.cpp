#include "firmware/burn_net_serial.h"

#include "firmware/dialog_port.h"
#include "firmware/firmware_ids.h"
#include "firmware/net_flash.h"
#include "firmware/prepare_image.h"
#include "firmware/procedure_outcomes.h"

namespace vantrel::firmware {
namespace {

// Runs the update on a port that no one else uses; `next` is the button to enable at the end.
Outcome Run(FirmwareRecord& record, SerialDevice& port, Clock& clock, FirmwareView& view,
            int& next) {
    next = kBreakButton;
    if (port.IsOpen()) port.Close();  // the line held in break by Break
    if (PortOccupied(port, record.comPort, kNetLoaderBaud)) {
        view.ShowMessage(kPortOccupied);
        next = kNetBurnButton;
        return kOccupied;
    }
    const PrepareResult prepared = PrepareImage(record.netImage, Controller::Net, view);
    if (prepared != PrepareResult::Ready) {
        view.SetText(kNetStatusText, PrepareFailureText(prepared));
        if (prepared == PrepareResult::ConversionFailed) next = kNetBurnButton;
        return PrepareFailure(prepared);
    }
    if (!OpenDialogPort(port, record.comPort, kNetLoaderBaud)) {
        view.SetText(kNetStatusText, kOpenFailed.text);
        port.Close();
        return kOpenFailed;
    }
    view.SetText(kNetStatusText, "COM port Connected!");
    SetLoaderTimeouts(port);
    view.SetCursor(FirmwareView::Cursor::Wait);
    view.SetText(kNetStatusText, "Erasing flash ... !");
    const ImageSlot& image = record.netImage;
    const bool written =
        WriteNetFlash(port, clock, image.buffer.data(), image.length, view, record.netStop);
    view.SetCursor(FirmwareView::Cursor::Arrow);
    const Outcome outcome = WriteOutcome(written, record.netStop);
    view.SetText(kNetStatusText, EndText(outcome));
    port.Close();
    return outcome;
}

}  // namespace

Outcome BurnNetSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock,
                      FirmwareView& view) {
    int next = kNetBurnButton;
    Outcome outcome = kOccupied;
    {
        std::unique_lock<std::mutex> lock(record.portLock, std::try_to_lock);
        if (lock.owns_lock()) {
            outcome = Run(record, port, clock, view, next);
        } else {
            view.ShowMessage(kPortOccupied);
        }
    }
    view.EnableControl(next, true);
    return outcome;
}

}  // namespace vantrel::firmware

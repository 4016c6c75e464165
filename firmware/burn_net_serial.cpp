#include "firmware/burn_net_serial.h"

#include "firmware/dialog_port.h"
#include "firmware/firmware_ids.h"
#include "firmware/net_flash.h"
#include "firmware/prepare_image.h"

namespace vantrel::firmware {
namespace {

// Runs the update on a port that no one else uses; the button to enable at the end.
int Run(FirmwareRecord& record, SerialDevice& port, Clock& clock, FirmwareView& view) {
    if (port.IsOpen()) port.Close();  // the line held in break by Break
    if (PortOccupied(port, record.comPort, kNetLoaderBaud)) {
        view.ShowMessage(kPortOccupied);
        return kNetBurnButton;
    }
    const PrepareResult prepared = PrepareImage(record.netImage, Controller::Net, view);
    if (prepared != PrepareResult::Ready) {
        view.SetText(kNetStatusText, PrepareFailureText(prepared));
        return prepared == PrepareResult::ConversionFailed ? kNetBurnButton : kBreakButton;
    }
    if (!OpenDialogPort(port, record.comPort, kNetLoaderBaud)) {
        view.SetText(kNetStatusText, "Fail to open COM port!");
        port.Close();
        return kBreakButton;
    }
    view.SetText(kNetStatusText, "COM port Connected!");
    SetLoaderTimeouts(port);
    view.SetCursor(FirmwareView::Cursor::Wait);
    view.SetText(kNetStatusText, "Erasing flash ... !");
    const ImageSlot& image = record.netImage;
    const bool written =
        WriteNetFlash(port, clock, image.buffer.data(), image.length, view, record.netStop);
    view.SetCursor(FirmwareView::Cursor::Arrow);
    view.SetText(kNetStatusText, written ? "Firmware Updated!" : "Fail to write flash!");
    port.Close();
    return kBreakButton;
}

}  // namespace

void BurnNetSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock, FirmwareView& view) {
    int next = kNetBurnButton;
    {
        std::unique_lock<std::mutex> lock(record.portLock, std::try_to_lock);
        if (lock.owns_lock()) {
            next = Run(record, port, clock, view);
        } else {
            view.ShowMessage(kPortOccupied);
        }
    }
    view.EnableControl(next, true);
}

}  // namespace vantrel::firmware

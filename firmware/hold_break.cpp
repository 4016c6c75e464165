#include "firmware/hold_break.h"

#include "firmware/dialog_port.h"
#include "firmware/firmware_ids.h"
#include "firmware/procedure_outcomes.h"

namespace vantrel::firmware {

Outcome Break(FirmwareRecord& record, SerialDevice& port, FirmwareView& view) {
    std::unique_lock<std::mutex> lock(record.portLock, std::try_to_lock);
    if (!lock.owns_lock()) {
        view.ShowMessage(kPortOccupied);
        return kOccupied;
    }
    if (port.IsOpen()) port.Close();
    if (!OpenDialogPort(port, record.comPort, kNetLoaderBaud)) {
        view.ShowMessage(kPortOccupied);
        return kOccupied;
    }
    port.SetRts();
    port.ClearDtr();
    port.Flush();
    port.SetBreak();
    view.SetText(kNetStatusText, "Please power cycle device to into bootloader entry!");
    view.EnableControl(kNetBurnButton, true);
    return {};
}

}  // namespace vantrel::firmware

#pragma once

#include "firmware/firmware_record.h"
#include "firmware/firmware_view.h"
#include "unit/clock.h"
#include "unit/outcome.h"
#include "serial/serial_device.h"

namespace vantrel::firmware {

/// Updates the main controller over the COM port: the probe, the image, the loader entry
/// frame, then Ping, Download and the image in packets. Reports in the main group's status
/// text and enables its Burn button when it ends, whatever the outcome. The body of the
/// dialog's BurnMainSerialThread; `port` is the dialog's own port. Done only when the loader
/// acknowledged every packet ("Firmware Updated!"); a failure carries the text it showed.
Outcome BurnMainSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock,
                       FirmwareView& view);

}  // namespace vantrel::firmware

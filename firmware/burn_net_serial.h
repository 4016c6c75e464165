#pragma once

#include "firmware/firmware_record.h"
#include "firmware/firmware_view.h"
#include "unit/clock.h"
#include "unit/outcome.h"
#include "serial/serial_device.h"

namespace vantrel::firmware {

/// Updates the net controller over the COM port at 19200 baud, once Break has held the line
/// while the unit was power-cycled: ends the break (closes the port Break left open), probes
/// the port, prepares the image, erases the flash and writes it. Reports in the net group's
/// status text and enables Burn or Break for the next step when it ends. The body of the
/// dialog's BurnNetSerialThread, which the dialog starts after clearing `netStop`. Done only
/// when every frame was answered; a failure carries the text it showed.
Outcome BurnNetSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock, FirmwareView& view);

}  // namespace vantrel::firmware

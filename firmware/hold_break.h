#pragma once

#include "firmware/firmware_record.h"
#include "firmware/firmware_view.h"
#include "unit/outcome.h"
#include "serial/serial_device.h"

namespace vantrel::firmware {

/// The Break button: opens the dialog's port at 19200 baud and holds its line in break, so
/// that the net controller starts its bootloader when the unit is power-cycled; the port
/// stays open until the net update starts. Pressed again, it releases the port it holds and
/// opens it anew. "COM port is occupied!" when the port does not open or an update is using
/// it. Runs on the dialog's thread. Done when the line is held.
Outcome Break(FirmwareRecord& record, SerialDevice& port, FirmwareView& view);

}  // namespace vantrel::firmware

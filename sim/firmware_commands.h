#pragma once

#include "sim/control_channel.h"
#include "sim/serial_console.h"
#include "sim/unit.h"

namespace vantrel::sim {

/// The control commands of the firmware update:
///   power-cycle               the unit is switched off and on (see SerialConsole::PowerCycle)
///   flash main|net FILE       writes the controller's flash, as its bootloader left it, to FILE
///                             and replies {"bytes":N}
void AddFirmwareCommands(ControlChannel& control, Unit& unit, SerialConsole& serial);

}  // namespace vantrel::sim

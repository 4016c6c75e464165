#pragma once

#include <cstdint>

#include "serial/serial_device.h"

namespace vantrel::firmware {

// The firmware dialog's one COM port, as the procedures and Break open it.

constexpr std::uint32_t kMainLoaderBaud = 115200;
constexpr std::uint32_t kNetLoaderBaud = 19200;
constexpr const char* kPortOccupied = "COM port is occupied!";

/// Opens the dialog's port on COM `comPort` with no parity, 8 data bits, one stop bit and no
/// flow control. A port number that cannot name a COM port (no selection: -1; above 255)
/// fails as a port that does not open, without a system call.
bool OpenDialogPort(SerialDevice& port, std::int32_t comPort, std::uint32_t baudRate);

/// Whether the port is held: by the dialog itself (Break holds it open) or, as the system
/// refuses its open, elsewhere. A port that does not open for another reason (it is not there)
/// is not held: its open fails later, as does one whose number names no COM port.
bool PortOccupied(SerialDevice& port, std::int32_t comPort, std::uint32_t baudRate);

/// How long a bootloader's reply is waited for: 1000 ms between bytes, 5000 ms plus 5000 ms
/// per byte in all.
constexpr std::uint32_t kLoaderByteGapMs = 1000;
constexpr std::uint32_t kLoaderReplyMs = 5000;
constexpr std::uint32_t kLoaderReplyPerByteMs = 5000;

/// Read time-outs for the bootloaders' replies, as above; the write time-outs stay as they are.
void SetLoaderTimeouts(SerialDevice& port);

}  // namespace vantrel::firmware

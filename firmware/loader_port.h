#pragma once

#include <cstdint>

#include "serial/serial_device.h"

namespace vantrel::firmware {

// The COM port as the loaders use it.

constexpr std::uint32_t kMainLoaderBaud = 115200;
constexpr std::uint32_t kNetLoaderBaud = 19200;

/// Whether `comPort` can name a COM port: 0 to 255 (-1 is no selection).
bool NamesComPort(std::int32_t comPort);

/// Opens the port on COM `comPort` with no parity, 8 data bits, one stop bit and no flow
/// control. A port number that cannot name a COM port (no selection: -1; above 255) fails as a
/// port that does not open, without a system call.
bool OpenLoaderPort(SerialDevice& port, std::int32_t comPort, std::uint32_t baudRate);

/// How long a bootloader's reply is waited for: 1000 ms between bytes, 5000 ms plus 5000 ms
/// per byte in all.
constexpr std::uint32_t kLoaderByteGapMs = 1000;
constexpr std::uint32_t kLoaderReplyMs = 5000;
constexpr std::uint32_t kLoaderReplyPerByteMs = 5000;

/// Read time-outs for the bootloaders' replies, as above; the write time-outs stay as they are.
void SetLoaderTimeouts(SerialDevice& port);

/// Holds the open port's line in break, so that the net controller starts its bootloader
/// when the unit is power-cycled.
void HoldLineInBreak(SerialDevice& port);

}  // namespace vantrel::firmware

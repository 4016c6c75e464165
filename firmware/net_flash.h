#pragma once

#include <atomic>
#include <cstdint>

#include "firmware/firmware_view.h"
#include "unit/clock.h"
#include "serial/serial_device.h"

namespace vantrel::firmware {

/// The largest image the net controller's flash takes: everything below the closing block.
constexpr std::int32_t kLargestNetImage = 0x1F7C0;

/// Erases the net controller's flash, page 0x1F400 down to 0, each frame after a start-byte
/// handshake. False at the first missing echo or short reply.
bool EraseNetFlash(SerialDevice& port, Clock& clock);

/// Erases, then writes the image with its first four bytes replaced by 01 EF FC F0, and
/// finally the closing block that carries the four bytes taken out. An image that is empty or
/// does not fit below the closing block is refused before the erase. `stop` is looked at
/// before each write frame that follows a full one. True when every frame was answered.
bool WriteNetFlash(SerialDevice& port, Clock& clock, const std::uint8_t* image, std::int32_t length,
                   FirmwareView& view, const std::atomic<std::uint8_t>& stop);

}  // namespace vantrel::firmware

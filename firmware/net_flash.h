#pragma once

#include <cstdint>
#include <vector>

#include "firmware/progress.h"
#include "serial/serial_device.h"
#include "unit/clock.h"
#include "unit/outcome.h"

namespace vantrel::firmware {

/// The largest image the net controller's flash takes: everything below the closing block.
constexpr std::int32_t kLargestNetImage = 0x1F7C0;

/// Erases the net controller's flash, page 0x1F400 down to 0, each frame after a start-byte
/// handshake. kNothingReceived at the first missing echo or short reply.
Outcome EraseNetFlash(SerialDevice& port, Clock& clock);

/// Erases, then writes the image with its first four bytes replaced by 01 EF FC F0, and
/// finally the closing block that carries the four bytes taken out; reports kErasing, then
/// kWriting with the image's bytes written after each frame. Before the erase, an empty image
/// is kBadImage and one that does not fit below the closing block kImageTooLarge. `stop` is
/// looked at before each write frame that follows a full one (kStopped).
Outcome WriteNetFlash(SerialDevice& port, Clock& clock, const std::vector<std::uint8_t>& image,
                      const ProgressSink& progress, const StopFlag& stop);

}  // namespace vantrel::firmware

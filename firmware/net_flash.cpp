#include "firmware/net_flash.h"

#include <array>
#include <vector>

#include "firmware/firmware_ids.h"
#include "firmware/net_frames.h"

namespace vantrel::firmware {
namespace {

constexpr Clock::Duration kEraseStartPause{50};
constexpr Clock::Duration kWriteStartPause{200};
constexpr Clock::Duration kAfterErase{200};
constexpr Clock::Duration kAfterWrite{300};
constexpr std::uint32_t kEraseReplyLength = 4;
constexpr std::uint32_t kWriteReplyLength = 5;

// The start byte and its echo; a wake-up's echo is not examined.
bool StartByte(SerialDevice& port, Clock& clock, Clock::Duration pause) {
    port.Write(&kStartByte, 1);
    clock.Sleep(pause);
    std::uint8_t echo = 0;
    return port.Read(&echo, 1) == 1 && echo == kStartByte;
}

// Sends an escaped frame; true when the reply came in full (its content is not examined).
bool SendFrame(SerialDevice& port, Clock& clock, const Frame& frame, Clock::Duration pause,
               std::uint32_t replyLength) {
    const Frame wire = StuffFrame(frame);
    port.Write(wire.data(), static_cast<std::uint32_t>(wire.size()));
    clock.Sleep(pause);
    std::uint8_t reply[kWriteReplyLength];
    return port.Read(reply, replyLength) == replyLength;
}

}  // namespace

bool EraseNetFlash(SerialDevice& port, Clock& clock) {
    port.Purge();
    StartByte(port, clock, kEraseStartPause);
    for (const FlashStep& step : ErasePlan()) {
        port.Purge();
        if (!StartByte(port, clock, kEraseStartPause)) return false;
        port.Purge();
        if (!SendFrame(port, clock, EraseFrame(step.address, step.count), kAfterErase,
                       kEraseReplyLength)) {
            return false;
        }
    }
    return true;
}

bool WriteNetFlash(SerialDevice& port, Clock& clock, const std::uint8_t* image, std::int32_t length,
                   FirmwareView& view, const std::atomic<std::uint8_t>& stop) {
    if (length <= 0 || length > kLargestNetImage) return false;
    const auto size = static_cast<std::uint32_t>(length);
    // The first four bytes go last, in the closing block; the caller's image stays as it is.
    std::vector<std::uint8_t> written(image, image + size);
    std::array<std::uint8_t, 4> start;
    start.fill(0xFF);
    for (std::size_t i = 0; i < start.size(); ++i) {
        if (i < size) {
            start[i] = written[i];
            written[i] = kRelocatedStart[i];
        }
    }
    if (!EraseNetFlash(port, clock)) return false;

    view.SetText(kNetStatusText, "Writing flash ... !");
    view.SetProgressRange(static_cast<std::uint16_t>(size / 10));
    view.SetProgressPos(0);
    clock.Sleep(kEraseStartPause);
    StartByte(port, clock, kWriteStartPause);
    for (const FlashStep& step : WritePlan(size)) {
        if (stop != 0) return false;
        if (!StartByte(port, clock, kWriteStartPause) ||
            !SendFrame(port, clock, WriteFrame(written.data(), size, step.address, step.count),
                       kAfterWrite, kWriteReplyLength)) {
            return false;
        }
        view.SetProgressPos(static_cast<int>((step.address + step.count * kWriteBlock) / 10));
    }
    return StartByte(port, clock, kWriteStartPause) &&
           SendFrame(port, clock, ClosingFrame(start), kAfterWrite, kWriteReplyLength);
}

}  // namespace vantrel::firmware

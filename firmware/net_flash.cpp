#include "firmware/net_flash.h"

#include <algorithm>
#include <array>
#include <vector>

#include "firmware/net_frames.h"

namespace vantrel::firmware {
namespace {

constexpr Clock::Duration kEraseStartPause{50};
constexpr Clock::Duration kWriteStartPause{200};
constexpr Clock::Duration kAfterErase{200};
constexpr Clock::Duration kAfterWrite{300};
constexpr std::uint32_t kEraseReplyLength = 4;
constexpr std::uint32_t kWriteReplyLength = 5;
// A missing echo or a short reply; what a full reply says is not examined.
constexpr Failure kNoAnswer{Fault::kNothingReceived};

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
    return port.Read(reply, replyLength) == static_cast<int>(replyLength);
}

}  // namespace

Outcome EraseNetFlash(SerialDevice& port, Clock& clock) {
    port.Purge();
    StartByte(port, clock, kEraseStartPause);
    for (const FlashStep& step : ErasePlan()) {
        port.Purge();
        if (!StartByte(port, clock, kEraseStartPause)) return kNoAnswer;
        port.Purge();
        if (!SendFrame(port, clock, EraseFrame(step.address, step.count), kAfterErase,
                       kEraseReplyLength)) {
            return kNoAnswer;
        }
    }
    return {};
}

Outcome WriteNetFlash(SerialDevice& port, Clock& clock, const std::vector<std::uint8_t>& image,
                      const ProgressSink& progress, const StopFlag& stop) {
    const auto size = static_cast<std::uint32_t>(image.size());
    Report(progress, Phase::kErasing, 0, size);
    if (image.empty()) return Failure{Fault::kBadImage};
    if (image.size() > static_cast<std::size_t>(kLargestNetImage)) {
        return Failure{Fault::kImageTooLarge};
    }
    // The first four bytes go last, in the closing block; the caller's image stays as it is.
    std::vector<std::uint8_t> written(image);
    std::array<std::uint8_t, 4> start;
    start.fill(0xFF);
    for (std::size_t i = 0; i < start.size(); ++i) {
        if (i < size) {
            start[i] = written[i];
            written[i] = kRelocatedStart[i];
        }
    }
    if (Outcome erased = EraseNetFlash(port, clock); !erased.Ok()) return erased;

    Report(progress, Phase::kWriting, 0, size);
    clock.Sleep(kEraseStartPause);
    StartByte(port, clock, kWriteStartPause);
    for (const FlashStep& step : WritePlan(size)) {
        if (stop != 0) return Failure{Fault::kStopped};
        if (!StartByte(port, clock, kWriteStartPause) ||
            !SendFrame(port, clock, WriteFrame(written.data(), size, step.address, step.count),
                       kAfterWrite, kWriteReplyLength)) {
            return kNoAnswer;
        }
        // The last frame's blocks may run past the image's end.
        Report(progress, Phase::kWriting,
               std::min<std::uint32_t>(size, step.address + step.count * kWriteBlock), size);
    }
    Report(progress, Phase::kFinishing, size, size);
    if (!StartByte(port, clock, kWriteStartPause) ||
        !SendFrame(port, clock, ClosingFrame(start), kAfterWrite, kWriteReplyLength)) {
        return kNoAnswer;
    }
    return {};
}

}  // namespace vantrel::firmware

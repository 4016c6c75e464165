#include "firmware/stream_loader_link.h"

#include <algorithm>
#include <cstring>

#include "firmware/dialog_port.h"

namespace vantrel::firmware {

bool StreamLoaderLink::Write(const void* data, std::uint32_t count) {
    return m_stream.Send(data, static_cast<int>(count)) == static_cast<int>(count);
}

std::uint32_t StreamLoaderLink::Read(void* buffer, std::uint32_t count) {
    const Clock::Duration limit{kLoaderReplyMs + kLoaderReplyPerByteMs * count};
    const Clock::TimePoint start = m_clock.Now();
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t got = 0;
    while (got < count) {
        const auto waited = std::chrono::duration_cast<Clock::Duration>(m_clock.Now() - start);
        if (waited >= limit) break;
        std::uint8_t part[kReceiveSize];
        const int n = m_stream.ReceiveWithin(part, kReceiveSize, limit - waited);
        if (n <= 0) break;
        const std::uint32_t used = std::min(count - got, static_cast<std::uint32_t>(n));
        std::memcpy(out + got, part, used);
        got += used;
    }
    return got;
}

}  // namespace vantrel::firmware

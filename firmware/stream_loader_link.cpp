#include "firmware/stream_loader_link.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "firmware/loader_port.h"
#include "unit/serial_frames.h"

namespace vantrel::firmware {
namespace {

constexpr Clock::Duration kLoaderStart{3000};

// Sends a console request and reads its reply to the line end, put together when the network
// splits it, so that no part of it is left in front of the next reply. A reply that begins
// with "OK" passes also when its line end does not come within the console's time limit.
Outcome AnsweredOk(ByteStream& stream, const void* request, int count) {
    if (stream.Send(request, count) != count) return Failure{Fault::kSendFailed};
    std::string reply;
    while (reply.find('\n') == std::string::npos &&
           reply.size() < static_cast<std::size_t>(StreamLoaderLink::kReceiveSize)) {
        char part[StreamLoaderLink::kReceiveSize];
        const int n = stream.Receive(part, sizeof part);
        if (n <= 0) break;
        reply.append(part, static_cast<std::size_t>(n));
    }
    if (reply.empty()) return Failure{Fault::kNothingReceived};
    return reply.compare(0, 2, "OK") == 0 ? Outcome{} : Failure{Fault::kBadReply};
}

}  // namespace

Outcome StreamLoaderLink::Enter(Clock& clock, const ProgressSink& progress) {
    static const char kFwUpdate[] = "FWUPDATE\r\n";
    Report(progress, Phase::kEntering, 0, 2);
    if (Outcome asked = AnsweredOk(m_stream, kFwUpdate, static_cast<int>(std::strlen(kFwUpdate)));
        !asked.Ok()) {
        return asked;
    }
    Report(progress, Phase::kEntering, 1, 2);
    const SerialFrame entry = BuildFrame(SerialUnit::Main, main_cmd::kEnterBootloader);
    if (Outcome entered = AnsweredOk(m_stream, entry.data(), static_cast<int>(entry.size()));
        !entered.Ok()) {
        return entered;
    }
    clock.Sleep(kLoaderStart);
    return {};
}

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

#include "firmware/bootloader_protocol.h"

#include <algorithm>
#include <cstring>

#include "firmware/loader_packets.h"

namespace vantrel::firmware {
namespace {

constexpr Clock::Duration kAfterPing{200};
constexpr Clock::Duration kAfterDownload{2000};
constexpr std::uint32_t kStatusReplyLength = 5;
constexpr std::uint8_t kNak[2] = {0x00, 0x33};

void Pause(Clock& clock, Clock::Duration pause) {
    if (pause.count() > 0) clock.Sleep(pause);
}

bool Send(LoaderLink& link, const Packet& packet) {
    return link.Write(packet.data(), static_cast<std::uint32_t>(packet.size()));
}

// The two bytes that answer a packet: the acknowledgement, a refusal, or `otherwise`
// (nothing, or anything else).
Outcome Judge(const std::uint8_t (&reply)[2], std::uint32_t got, Fault otherwise) {
    if (got == 2 && std::memcmp(reply, kAck, 2) == 0) return {};
    if (got == 2 && std::memcmp(reply, kNak, 2) == 0) return Failure{Fault::kRefused};
    return Failure{otherwise};
}

// Sends a packet and, after the pause, reads the two bytes of its acknowledgement.
Outcome Acknowledged(LoaderLink& link, Clock& clock, const Packet& packet, Clock::Duration pause,
                     Fault otherwise) {
    if (!Send(link, packet)) return Failure{Fault::kSendFailed};
    Pause(clock, pause);
    std::uint8_t reply[2];
    return Judge(reply, link.Read(reply, 2), otherwise);
}

// GetStatus: the acknowledgement, then the bootloader's ready status. Only the closing check
// looks at the acknowledgement's first byte; the status packet's checksum byte is not examined.
Outcome StatusReady(LoaderLink& link, Clock& clock, Clock::Duration pause, bool closing) {
    if (!Send(link, GetStatusPacket())) return Failure{Fault::kSendFailed};
    Pause(clock, pause);
    std::uint8_t reply[kStatusReplyLength];
    const std::uint32_t got = link.Read(reply, kStatusReplyLength);
    if (got == 2 && std::memcmp(reply, kNak, 2) == 0) return Failure{Fault::kRefused};
    if (got < 4) return Failure{Fault::kBadReply};
    const bool ready = (!closing || reply[0] == kAck[0]) && reply[1] == kAck[1] &&
                       reply[2] == kStatusReady[0] && reply[3] == kStatusReady[1];
    return ready ? Outcome{} : Failure{Fault::kBadReply};
}

// The acknowledgement of the status packet goes out in one write with the packet after it:
// through the console, a lone byte would hold the packet back until the unit acknowledged it.
Packet AfterStatusAck(Packet packet) {
    packet.insert(packet.begin(), kStatusAck);
    return packet;
}

}  // namespace

Outcome StartDownload(LoaderLink& link, Clock& clock, std::uint32_t length) {
    if (!link.IsOpen()) return Failure{Fault::kNotOpened};
    if (Outcome ping = Acknowledged(link, clock, PingPacket(), kAfterPing, Fault::kNothingReceived);
        !ping.Ok()) {
        return ping;
    }
    return Acknowledged(link, clock, DownloadPacket(length), kAfterDownload,
                        Fault::kNothingReceived);
}

Outcome SendImage(LoaderLink& link, Clock& clock, const LoaderPauses& pauses,
                  const std::vector<std::uint8_t>& image, const ProgressSink& progress,
                  const StopFlag& stop) {
    if (image.size() < static_cast<std::size_t>(kSmallestLoaderImage)) {
        return Failure{Fault::kImageTooShort};
    }
    const std::size_t total = image.size();
    Report(progress, Phase::kWriting, 0, static_cast<std::int64_t>(total));
    for (std::size_t sent = 0; sent < total;) {
        if (stop != 0) return Failure{Fault::kStopped};
        if (Outcome ready = StatusReady(link, clock, pauses.afterStatus, false); !ready.Ok()) {
            return ready;
        }
        const std::size_t n = std::min(kChunkSize, total - sent);
        if (Outcome acked =
                Acknowledged(link, clock, AfterStatusAck(SendDataPacket(image.data() + sent, n)),
                             pauses.afterData, Fault::kBadReply);
            !acked.Ok()) {
            return acked;
        }
        sent += n;
        Report(progress, Phase::kWriting, static_cast<std::int64_t>(sent),
               static_cast<std::int64_t>(total));
    }
    Report(progress, Phase::kFinishing, static_cast<std::int64_t>(total),
           static_cast<std::int64_t>(total));
    if (Outcome ready = StatusReady(link, clock, pauses.afterStatus, true); !ready.Ok()) {
        return ready;
    }
    if (!Send(link, AfterStatusAck(FinishPacket()))) return Failure{Fault::kSendFailed};
    Pause(clock, pauses.afterFinish);
    std::uint8_t reply[2];
    return Judge(reply, link.Read(reply, 2), Fault::kBadReply);
}

}  // namespace vantrel::firmware

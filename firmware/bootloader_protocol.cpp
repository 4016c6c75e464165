#include "firmware/bootloader_protocol.h"

#include <algorithm>
#include <cstring>

#include "firmware/firmware_ids.h"
#include "firmware/loader_packets.h"

namespace vantrel::firmware {
namespace {

constexpr Clock::Duration kAfterPing{200};
constexpr Clock::Duration kAfterDownload{2000};
constexpr std::uint32_t kStatusReplyLength = 5;

void Pause(Clock& clock, Clock::Duration pause) {
    if (pause.count() > 0) clock.Sleep(pause);
}

bool Send(LoaderLink& link, const Packet& packet) {
    return link.Write(packet.data(), static_cast<std::uint32_t>(packet.size()));
}

// Sends a packet and, after the pause, reads the two bytes of its acknowledgement.
bool Acknowledged(LoaderLink& link, Clock& clock, const Packet& packet, Clock::Duration pause) {
    if (!Send(link, packet)) return false;
    Pause(clock, pause);
    std::uint8_t reply[2];
    return link.Read(reply, 2) == 2 && std::memcmp(reply, kAck, 2) == 0;
}

// GetStatus: the acknowledgement, then the bootloader's ready status. Only the closing check
// looks at the acknowledgement's first byte; the status packet's checksum byte is not examined.
bool StatusReady(LoaderLink& link, Clock& clock, Clock::Duration pause, bool closing) {
    if (!Send(link, GetStatusPacket())) return false;
    Pause(clock, pause);
    std::uint8_t reply[kStatusReplyLength];
    if (link.Read(reply, kStatusReplyLength) < 4) return false;
    return (!closing || reply[0] == kAck[0]) && reply[1] == kAck[1] &&
           reply[2] == kStatusReady[0] && reply[3] == kStatusReady[1];
}

// The acknowledgement of the status packet goes out in one write with the packet after it:
// through the console, a lone byte would hold the packet back until the unit acknowledged it.
Packet AfterStatusAck(Packet packet) {
    packet.insert(packet.begin(), kStatusAck);
    return packet;
}

}  // namespace

bool StartDownload(LoaderLink& link, Clock& clock, std::uint32_t length) {
    return link.IsOpen() && Acknowledged(link, clock, PingPacket(), kAfterPing) &&
           Acknowledged(link, clock, DownloadPacket(length), kAfterDownload);
}

bool SendImage(LoaderLink& link, Clock& clock, const LoaderPauses& pauses,
               const std::uint8_t* image, std::int32_t length, FirmwareView& view,
               const std::atomic<std::uint8_t>& stop) {
    if (length < kSmallestLoaderImage) return false;
    const auto chunks = static_cast<std::size_t>(length);
    view.SetProgressRange(static_cast<std::uint16_t>(chunks / kChunkSize));
    view.SetProgressPos(0);
    for (std::size_t sent = 0; sent < chunks;) {
        if (stop != 0) return false;
        if (!StatusReady(link, clock, pauses.afterStatus, false)) return false;
        const std::size_t n = std::min(kChunkSize, chunks - sent);
        if (!Acknowledged(link, clock, AfterStatusAck(SendDataPacket(image + sent, n)),
                          pauses.afterData)) {
            return false;
        }
        sent += n;
        if (sent < chunks) view.SetProgressPos(static_cast<int>(sent / kChunkSize));
    }
    if (!StatusReady(link, clock, pauses.afterStatus, true)) return false;
    if (!Send(link, AfterStatusAck(FinishPacket()))) return false;
    Pause(clock, pauses.afterFinish);
    std::uint8_t reply[2];
    return link.Read(reply, 2) == 2 && std::memcmp(reply, kAck, 2) == 0;
}

}  // namespace vantrel::firmware

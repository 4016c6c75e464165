#include "firmware/loader_packets.h"

namespace vantrel::firmware {

Packet BuildPacket(std::uint8_t command, const std::uint8_t* data, std::size_t count) {
    Packet packet(count + 3);
    packet[0] = static_cast<std::uint8_t>(packet.size());
    packet[2] = command;
    for (std::size_t i = 0; i < count; ++i) packet[3 + i] = data[i];
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < packet.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + packet[i]);
    packet[1] = sum;
    return packet;
}

Packet PingPacket() { return BuildPacket(loader_cmd::kPing, nullptr, 0); }

Packet DownloadPacket(std::uint32_t length) {
    const std::uint8_t data[8] = {
        static_cast<std::uint8_t>(kDownloadAddress >> 24),
        static_cast<std::uint8_t>(kDownloadAddress >> 16),
        static_cast<std::uint8_t>(kDownloadAddress >> 8),
        static_cast<std::uint8_t>(kDownloadAddress),
        static_cast<std::uint8_t>(length >> 24),
        static_cast<std::uint8_t>(length >> 16),
        static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(length),
    };
    return BuildPacket(loader_cmd::kDownload, data, sizeof data);
}

Packet GetStatusPacket() { return BuildPacket(loader_cmd::kGetStatus, nullptr, 0); }

Packet SendDataPacket(const std::uint8_t* bytes, std::size_t count) {
    return BuildPacket(loader_cmd::kSendData, bytes, count);
}

Packet FinishPacket() { return BuildPacket(loader_cmd::kFinish, nullptr, 0); }

}  // namespace vantrel::firmware

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel::firmware {

/// The main controller's bootloader packets: [size][checksum][command][data], size counting
/// every byte, checksum the sum of the bytes from the command on, modulo 256.
using Packet = std::vector<std::uint8_t>;

namespace loader_cmd {
constexpr std::uint8_t kPing = 0x20;
constexpr std::uint8_t kDownload = 0x21;
constexpr std::uint8_t kGetStatus = 0x23;
constexpr std::uint8_t kSendData = 0x24;
constexpr std::uint8_t kFinish = 0x25;
}  // namespace loader_cmd

/// The bootloader acknowledges each packet with these two bytes.
constexpr std::uint8_t kAck[2] = {0x00, 0xCC};
/// The panel acknowledges the bootloader's status packet with this byte.
constexpr std::uint8_t kStatusAck = 0xCC;
/// The status packet that says the bootloader is ready: size 3, checksum 0x40, status 0x40.
constexpr std::uint8_t kStatusReady[3] = {0x03, 0x40, 0x40};
/// The load address of the main controller's image.
constexpr std::uint32_t kDownloadAddress = 0x2800;
/// Image bytes per SendData packet.
constexpr std::size_t kChunkSize = 76;

/// A packet of `command` with `data`; big-endian numbers are the caller's.
Packet BuildPacket(std::uint8_t command, const std::uint8_t* data, std::size_t count);
Packet PingPacket();
/// Download to kDownloadAddress of an image of `length` bytes.
Packet DownloadPacket(std::uint32_t length);
Packet GetStatusPacket();
Packet SendDataPacket(const std::uint8_t* bytes, std::size_t count);
Packet FinishPacket();

}  // namespace vantrel::firmware

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "unit/unit_values.h"

namespace vantrel {

/// Which controller of the unit a serial control frame addresses.
enum class SerialUnit : std::uint8_t { Main, Net };

/// Command codes of the main controller's frames (marker 53 57).
namespace main_cmd {
constexpr std::uint8_t kSoloLeft = 0x01;
constexpr std::uint8_t kSoloRight = 0x02;
constexpr std::uint8_t kPre2ch = 0x03;
constexpr std::uint8_t kNext2ch = 0x04;
constexpr std::uint8_t kPre8ch = 0x05;
constexpr std::uint8_t kNext8ch = 0x06;
constexpr std::uint8_t kMixDown = 0x08;
constexpr std::uint8_t kVolumeUp = 0x09;
constexpr std::uint8_t kVolumeDown = 0x0A;
constexpr std::uint8_t kMute = 0x0B;
constexpr std::uint8_t kReadVolume = 0x11;
constexpr std::uint8_t kVuMode = 0x13;
constexpr std::uint8_t kDppmMode = 0x14;
constexpr std::uint8_t kSetBrightness = 0x16;
constexpr std::uint8_t kReadBrightness = 0x17;
constexpr std::uint8_t kSetContrast = 0x18;
constexpr std::uint8_t kReadContrast = 0x19;
constexpr std::uint8_t kSetSaturation = 0x20;
constexpr std::uint8_t kReadSaturation = 0x21;
constexpr std::uint8_t kReadVersion = 0x22;
constexpr std::uint8_t kFactoryReset = 0x23;
constexpr std::uint8_t kReadStatus = 0x24;
constexpr std::uint8_t kHdmiInput = 0x25;
constexpr std::uint8_t kSdiInput = 0x26;
constexpr std::uint8_t kBalancedInput = 0x27;
constexpr std::uint8_t kUnbalancedInput = 0x28;
constexpr std::uint8_t kEnterBootloader = 0xFE;
}  // namespace main_cmd

/// Command codes of the network controller's frames (marker 87 60).
namespace net_cmd {
constexpr std::uint8_t kReadMac = 0x01;
constexpr std::uint8_t kReadIp = 0x02;
constexpr std::uint8_t kReadMask = 0x03;
constexpr std::uint8_t kReadGateway = 0x04;
constexpr std::uint8_t kReadMode = 0x05;
constexpr std::uint8_t kWriteIp = 0x06;
constexpr std::uint8_t kWriteMask = 0x07;
constexpr std::uint8_t kWriteGateway = 0x08;
constexpr std::uint8_t kWriteMode = 0x09;
constexpr std::uint8_t kReadVersion = 0x0A;
constexpr std::uint8_t kDefaultIp = 0x0B;
}  // namespace net_cmd

/// Address mode byte of the mode frames and replies.
constexpr std::uint8_t kModeStatic = 0x00;
constexpr std::uint8_t kModeDhcp = 0x01;

/// A request: [total length][two-byte unit marker][command][argument], no checksum.
struct SerialFrame {
    std::array<std::uint8_t, 8> bytes{};
    std::uint8_t length = 0;

    const std::uint8_t* data() const { return bytes.data(); }
    std::size_t size() const { return length; }
};

/// The 4-byte frame of a command without argument.
SerialFrame BuildFrame(SerialUnit unit, std::uint8_t command);
/// The 5-byte frame carrying one value byte.
SerialFrame BuildFrame(SerialUnit unit, std::uint8_t command, std::uint8_t value);
/// The 8-byte frame carrying an IPv4 address (first octet in the top byte), first octet first.
SerialFrame BuildAddressFrame(SerialUnit unit, std::uint8_t command, std::uint32_t address);

/// Reply lengths; each reply is read with one read of this many bytes.
constexpr std::size_t kLevelReplyLength = 3;
constexpr std::size_t kStatusReplyLength = 11;
constexpr std::size_t kMacReplyLength = 8;
constexpr std::size_t kAddressReplyLength = 6;
constexpr std::size_t kModeReplyLength = 3;
constexpr std::size_t kVersionReplyLength = 4;

// Decoders of the replies. `received` is the count the read returned: a reply is used only
// when every byte it is judged on arrived, so a short reply never passes off stale buffer
// bytes (the request's own bytes, say) as the unit's answer.

/// Byte 2, the level; bytes 0 and 1 are not examined.
std::optional<std::uint8_t> DecodeLevelReply(const std::uint8_t* reply, std::size_t received);
/// Byte 2, the address mode (0 static, 1 DHCP, other values neither); no header check.
std::optional<std::uint8_t> DecodeModeReply(const std::uint8_t* reply, std::size_t received);
/// AA CC and the status block.
std::optional<StatusBlock> DecodeStatusReply(const std::uint8_t* reply, std::size_t received);
/// AA CC and the six MAC bytes in display order.
std::optional<MacAddress> DecodeMacReply(const std::uint8_t* reply, std::size_t received);
/// AA CC and four octets, as one value with the first octet in the top byte.
std::optional<std::uint32_t> DecodeAddressReply(const std::uint8_t* reply, std::size_t received);
/// AA, one byte not examined, major, minor.
std::optional<FirmwareVersion> DecodeVersionReply(const std::uint8_t* reply, std::size_t received);

}  // namespace vantrel

#include "unit/serial_frames.h"

namespace vantrel {
namespace {

constexpr std::uint8_t kHeader0 = 0xAA;
constexpr std::uint8_t kHeader1 = 0xCC;

SerialFrame Start(SerialUnit unit, std::uint8_t command, std::uint8_t length) {
    SerialFrame frame;
    frame.length = length;
    frame.bytes[0] = length;
    frame.bytes[1] = unit == SerialUnit::Main ? 0x53 : 0x87;
    frame.bytes[2] = unit == SerialUnit::Main ? 0x57 : 0x60;
    frame.bytes[3] = command;
    return frame;
}

bool HasHeader(const std::uint8_t* reply) { return reply[0] == kHeader0 && reply[1] == kHeader1; }

}  // namespace

SerialFrame BuildFrame(SerialUnit unit, std::uint8_t command) { return Start(unit, command, 4); }

SerialFrame BuildFrame(SerialUnit unit, std::uint8_t command, std::uint8_t value) {
    SerialFrame frame = Start(unit, command, 5);
    frame.bytes[4] = value;
    return frame;
}

SerialFrame BuildAddressFrame(SerialUnit unit, std::uint8_t command, std::uint32_t address) {
    SerialFrame frame = Start(unit, command, 8);
    frame.bytes[4] = static_cast<std::uint8_t>(address >> 24);
    frame.bytes[5] = static_cast<std::uint8_t>(address >> 16);
    frame.bytes[6] = static_cast<std::uint8_t>(address >> 8);
    frame.bytes[7] = static_cast<std::uint8_t>(address);
    return frame;
}

std::optional<std::uint8_t> DecodeLevelReply(const std::uint8_t* reply, std::size_t received) {
    if (received < kLevelReplyLength) return std::nullopt;
    return reply[2];
}

std::optional<std::uint8_t> DecodeModeReply(const std::uint8_t* reply, std::size_t received) {
    if (received < kModeReplyLength) return std::nullopt;
    return reply[2];
}

std::optional<StatusBlock> DecodeStatusReply(const std::uint8_t* reply, std::size_t received) {
    if (received < kStatusReplyLength || !HasHeader(reply)) return std::nullopt;
    StatusBlock block;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = reply[2 + i];
    return block;
}

std::optional<MacAddress> DecodeMacReply(const std::uint8_t* reply, std::size_t received) {
    if (received < kMacReplyLength || !HasHeader(reply)) return std::nullopt;
    MacAddress mac;
    for (std::size_t i = 0; i < mac.size(); ++i) mac[i] = reply[2 + i];
    return mac;
}

std::optional<std::uint32_t> DecodeAddressReply(const std::uint8_t* reply, std::size_t received) {
    if (received < kAddressReplyLength || !HasHeader(reply)) return std::nullopt;
    return (std::uint32_t{reply[2]} << 24) | (std::uint32_t{reply[3]} << 16) |
           (std::uint32_t{reply[4]} << 8) | reply[5];
}

std::optional<FirmwareVersion> DecodeVersionReply(const std::uint8_t* reply, std::size_t received) {
    if (received < kVersionReplyLength || reply[0] != kHeader0) return std::nullopt;
    return FirmwareVersion{reply[2], reply[3]};
}

}  // namespace vantrel

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel::firmware {

/// The net controller's flash frames: [command][address, 4 bytes little-endian][count]
/// [count x 64 data bytes, WriteFlash only][CRC-16, low byte first], escaped on the wire.
using Frame = std::vector<std::uint8_t>;

constexpr std::uint8_t kStartByte = 0x0F;   // sent alone before every frame; echoed
constexpr std::uint8_t kEndByte = 0x04;     // closes every frame on the wire
constexpr std::uint8_t kEscapeByte = 0x05;  // precedes a frame byte that is one of the three

constexpr std::uint8_t kEraseFlash = 0x03;
constexpr std::uint8_t kWriteFlash = 0x04;

constexpr std::uint32_t kErasePage = 1024;
constexpr std::uint32_t kTopErasePage = 0x1F400;
constexpr std::uint32_t kMaxErasePages = 4;
constexpr std::uint32_t kWriteBlock = 64;
constexpr std::uint32_t kMaxWriteBlocks = 57;
constexpr std::uint32_t kMaxWriteData = kMaxWriteBlocks * kWriteBlock;  // 3648
/// The block that closes an update and carries the image's first four bytes at its top.
constexpr std::uint32_t kClosingBlock = 0x1F7C0;
/// What the image's first four bytes are replaced with while it is written.
constexpr std::array<std::uint8_t, 4> kRelocatedStart = {0x01, 0xEF, 0xFC, 0xF0};

/// Escapes every 0x04, 0x05 and 0x0F with 0x05 and appends the end byte.
Frame StuffFrame(const Frame& frame);

/// Erases `pages` pages of 1024 bytes from `address` downward.
Frame EraseFrame(std::uint32_t address, std::uint8_t pages);
/// Writes `blocks` blocks of 64 bytes at `offset`: the image's bytes from there, 0xFF past its
/// end.
Frame WriteFrame(const std::uint8_t* image, std::size_t length, std::uint32_t offset,
                 std::uint8_t blocks);
/// The one-block frame at kClosingBlock: 60 bytes of 0xFF, then `start`.
Frame ClosingFrame(const std::array<std::uint8_t, 4>& start);

struct FlashStep {
    std::uint32_t address;
    std::uint8_t count;  // pages for an erase, blocks for a write
};

/// The erase frames: from kTopErasePage downward to 0, at most four pages each.
std::vector<FlashStep> ErasePlan();
/// The write frames of an image of `length` bytes: 57 blocks each while they are full, one
/// last frame with the rest (count 0 when the image fills the full frames exactly).
std::vector<FlashStep> WritePlan(std::uint32_t length);

}  // namespace vantrel::firmware

#include <gtest/gtest.h>

#include <vector>

#include "unit/serial_frames.h"

namespace vantrel {
namespace serial_frames_test {
namespace {

std::vector<unsigned> Bytes(const SerialFrame& frame) {
    return std::vector<unsigned>(frame.data(), frame.data() + frame.size());
}

TEST(SerialFramesTest, BuildsTheThreeLengthsForBothMarkers) {
    EXPECT_EQ(Bytes(BuildFrame(SerialUnit::Main, main_cmd::kMute)),
              (std::vector<unsigned>{0x04, 0x53, 0x57, 0x0B}));
    EXPECT_EQ(Bytes(BuildFrame(SerialUnit::Net, net_cmd::kReadMac)),
              (std::vector<unsigned>{0x04, 0x87, 0x60, 0x01}));
    EXPECT_EQ(Bytes(BuildFrame(SerialUnit::Main, main_cmd::kSetContrast, 0xFF)),
              (std::vector<unsigned>{0x05, 0x53, 0x57, 0x18, 0xFF}));
    EXPECT_EQ(Bytes(BuildFrame(SerialUnit::Net, net_cmd::kWriteMode, kModeDhcp)),
              (std::vector<unsigned>{0x05, 0x87, 0x60, 0x09, 0x01}));
    EXPECT_EQ(Bytes(BuildAddressFrame(SerialUnit::Net, net_cmd::kWriteIp, 0xC0A801DC)),
              (std::vector<unsigned>{0x08, 0x87, 0x60, 0x06, 0xC0, 0xA8, 0x01, 0xDC}));
    EXPECT_EQ(Bytes(BuildAddressFrame(SerialUnit::Net, net_cmd::kWriteMask, 0xFFFFFF00)),
              (std::vector<unsigned>{0x08, 0x87, 0x60, 0x07, 0xFF, 0xFF, 0xFF, 0x00}));
}

TEST(SerialFramesTest, StatusReplyNeedsItsHeaderAndAllElevenBytes) {
    const std::uint8_t reply[] = {0xAA, 0xCC, 1, 0, 1, 38, 1, 200, 128, 64, 3};
    auto block = DecodeStatusReply(reply, 11);
    ASSERT_TRUE(block);
    // Wire order: Volume (38) before the meter mode (1).
    EXPECT_EQ(*block, (StatusBlock{1, 0, 1, 38, 1, 200, 128, 64, 3}));

    EXPECT_FALSE(DecodeStatusReply(reply, 10));
    const std::uint8_t wrongHeader[] = {0xAA, 0xCD, 1, 0, 1, 38, 1, 200, 128, 64, 3};
    EXPECT_FALSE(DecodeStatusReply(wrongHeader, 11));
    // A reply that never came leaves the request in the buffer: 04 53 57 24.
    const std::uint8_t request[11] = {0x04, 0x53, 0x57, 0x24};
    EXPECT_FALSE(DecodeStatusReply(request, 0));
    EXPECT_FALSE(DecodeStatusReply(request, 11));
}

TEST(SerialFramesTest, MacAndAddressRepliesAreChecked) {
    const std::uint8_t mac[] = {0xAA, 0xCC, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(DecodeMacReply(mac, 8), (MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_FALSE(DecodeMacReply(mac, 7));
    const std::uint8_t badMac[] = {0xAA, 0xCD, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_FALSE(DecodeMacReply(badMac, 8));

    const std::uint8_t address[] = {0xAA, 0xCC, 10, 0, 0, 5};
    EXPECT_EQ(DecodeAddressReply(address, 6), 0x0A000005u);
    EXPECT_FALSE(DecodeAddressReply(address, 5));
    const std::uint8_t badAddress[] = {0xBB, 0xCC, 10, 0, 0, 5};
    EXPECT_FALSE(DecodeAddressReply(badAddress, 6));
}

TEST(SerialFramesTest, LevelAndModeRepliesAreUncheckedButMustArrive) {
    const std::uint8_t level[] = {0x12, 0x34, 255};
    EXPECT_EQ(DecodeLevelReply(level, 3), 255);
    const std::uint8_t zero[] = {0, 0, 0};
    EXPECT_EQ(DecodeLevelReply(zero, 3), 0);
    // Two bytes came: byte 2 would be the request's own 0x57, not a level.
    const std::uint8_t cut[] = {0xAA, 0xCC, 0x57};
    EXPECT_FALSE(DecodeLevelReply(cut, 2));

    const std::uint8_t mode[] = {0x00, 0x00, 2};
    EXPECT_EQ(DecodeModeReply(mode, 3), 2);
    EXPECT_FALSE(DecodeModeReply(mode, 0));
}

TEST(SerialFramesTest, VersionReplyChecksOnlyItsFirstByte) {
    const std::uint8_t version[] = {0xAA, 0x77, 2, 5};
    auto decoded = DecodeVersionReply(version, 4);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->major, 2);
    EXPECT_EQ(decoded->minor, 5);
    const std::uint8_t notAa[] = {0xAB, 0xCC, 2, 5};
    EXPECT_FALSE(DecodeVersionReply(notAa, 4));
    EXPECT_FALSE(DecodeVersionReply(version, 3));
}

}  // namespace
}  // namespace serial_frames_test
}  // namespace vantrel

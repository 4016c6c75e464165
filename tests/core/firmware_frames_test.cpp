#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware/crc16.h"
#include "firmware/loader_packets.h"
#include "firmware/net_frames.h"
#include "tests/support/recording_serial.h"

namespace vantrel::firmware {
namespace firmware_frames_test {
namespace {

using testing::HexBytes;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    return HexBytes(bytes.data(), bytes.size());
}

TEST(LoaderPacketTest, DownloadCarriesTheLengthBigEndianUnderItsChecksum) {
    EXPECT_EQ(Hex(DownloadPacket(20000)), "0B B7 21 00 00 28 00 00 00 4E 20");
    EXPECT_EQ(Hex(PingPacket()), "03 20 20");
    EXPECT_EQ(Hex(SendDataPacket(std::vector<std::uint8_t>{0xF0, 0x20}.data(), 2)),
              "05 34 24 F0 20");
}

TEST(NetFrameTest, CrcIsXmodem) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0x31C3);
}

TEST(NetFrameTest, EraseCoversPage0x1F400DownToZeroIn32Frames) {
    const std::vector<FlashStep> plan = ErasePlan();
    ASSERT_EQ(plan.size(), 32u);
    unsigned pages = 0;
    for (std::size_t i = 0; i + 1 < plan.size(); ++i) {
        EXPECT_EQ(plan[i].address, 0x1F400u - i * 4096);
        EXPECT_EQ(plan[i].count, 4);
        pages += plan[i].count;
    }
    EXPECT_EQ(plan.back().address, 0x400u);
    EXPECT_EQ(plan.back().count, 2);
    EXPECT_EQ(pages + plan.back().count, 126u);
}

TEST(NetFrameTest, WritePlansPadTheLastFrameWithFF) {
    struct Case {
        std::uint32_t length;
        std::vector<std::pair<std::uint32_t, int>> frames;
    };
    const Case cases[] = {
        {4000, {{0, 57}, {3648, 6}}},
        {3600, {{0, 57}}},
        {7296, {{0, 57}, {3648, 57}, {7296, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<std::pair<std::uint32_t, int>> frames;
        for (const FlashStep& step : WritePlan(c.length))
            frames.push_back({step.address, step.count});
        EXPECT_EQ(frames, c.frames);
    }
    const std::vector<std::uint8_t> image(4000, 0x11);
    const Frame last = WriteFrame(image.data(), image.size(), 3648, 6);
    ASSERT_EQ(last.size(), 6u + 384 + 2);
    EXPECT_EQ(Hex(Frame(last.begin(), last.begin() + 6)), "04 40 0E 00 00 06");
    EXPECT_EQ(last[6 + 351], 0x11);
    EXPECT_EQ(Frame(last.begin() + 6 + 352, last.end() - 2), Frame(32, 0xFF));
    const Frame only = WriteFrame(image.data(), 3600, 0, 57);
    EXPECT_EQ(Frame(only.begin() + 6 + 3600, only.end() - 2), Frame(48, 0xFF));
    EXPECT_EQ(WriteFrame(image.data(), 7296, 7296, 0).size(), 8u);
}

TEST(NetFrameTest, ClosingBlockCarriesTheFirstFourBytesAtItsTop) {
    const Frame frame = ClosingFrame({0xDE, 0x04, 0x0F, 0x05});
    ASSERT_EQ(frame.size(), 72u);
    EXPECT_EQ(Hex(Frame(frame.begin(), frame.begin() + 6)), "04 C0 F7 01 00 01");
    EXPECT_EQ(Hex(Frame(frame.begin() + 66, frame.begin() + 70)), "DE 04 0F 05");
    // Every special byte is escaped on the wire, the end byte closes it.
    const Frame wire = StuffFrame(Frame(frame.begin() + 64, frame.begin() + 70));
    EXPECT_EQ(Hex(wire), "FF FF DE 05 04 05 0F 05 05 04");
}

}  // namespace
}  // namespace firmware_frames_test
}  // namespace vantrel::firmware

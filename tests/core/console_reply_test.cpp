#include "unit/console_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace console_reply_test {
namespace {

int32_t Level(const std::string& reply) {
    return ParseLevelReply(reinterpret_cast<const uint8_t*>(reply.data()),
                           static_cast<int>(reply.size()));
}

TEST(ConsoleReplyTest, LevelIsTheLeadingDecimalNumber) {
    EXPECT_EQ(Level("12\r\n"), 12);
    EXPECT_EQ(Level("0\r\n"), 0);
    EXPECT_EQ(Level(" \t+40\r\n"), 40);
    EXPECT_EQ(Level("-3\r\n"), -3);
    EXPECT_EQ(Level("7x9"), 7);
    EXPECT_EQ(Level("OK\r\n"), 0);
    EXPECT_EQ(Level(""), 0);
    EXPECT_EQ(Level("-"), 0);
}

TEST(ConsoleReplyTest, LevelStopsAtTheBytesReceived) {
    const uint8_t buffer[] = {'4', '5', '6', '\r', '\n'};
    EXPECT_EQ(ParseLevelReply(buffer, 1), 4);
    EXPECT_EQ(ParseLevelReply(buffer, 0), 0);
    EXPECT_EQ(ParseLevelReply(buffer, -1), 0);
}

TEST(ConsoleReplyTest, LevelBeyondThe32BitRangeIsHeldAtItsEnds) {
    EXPECT_EQ(Level("99999999999999999999\r\n"), 2147483647);
    EXPECT_EQ(Level("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(Level("-99999999999999999999"), -2147483647 - 1);
}

TEST(ConsoleReplyTest, MacIsTwelveUpperCaseDigitsAndALevelBeginsWithADigit) {
    char text[13];
    FormatMac({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE}, text);
    EXPECT_STREQ(text, "001A2B3C4DFE");
    const uint8_t level[] = {' ', '-', '7', 'x'};
    EXPECT_TRUE(StartsWithLevel(level, 3));
    EXPECT_FALSE(StartsWithLevel(level, 2));  // the digit is beyond what was received
    EXPECT_FALSE(StartsWithLevel(level + 3, 1));
}

TEST(ConsoleReplyTest, AddressNeedsFourBytesFirstOctetOnTop) {
    const uint8_t reply[] = {192, 168, 1, 220};
    uint32_t address = 7;
    EXPECT_FALSE(AddressFromReply(reply, 3, address));
    EXPECT_EQ(address, 7u);
    EXPECT_TRUE(AddressFromReply(reply, 4, address));
    EXPECT_EQ(address, 0xC0A801DCu);
    char text[16];
    FormatDotted(address, text);
    EXPECT_STREQ(text, "192.168.1.220");
    FormatDotted(0xFFFFFFFF, text);
    EXPECT_STREQ(text, "255.255.255.255");
}

}  // namespace
}  // namespace console_reply_test
}  // namespace vantrel

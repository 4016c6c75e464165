#include "firmware/image_info.h"

#include <gtest/gtest.h>

#include <string>

#include "firmware/net_flash.h"
#include "tests/support/hex_text.h"
#include "tests/support/temp_file.h"

namespace vantrel::firmware {
namespace image_info_test {
namespace {

using testing::HexRecord;

// HEX text padded with line ends, so that the file is large enough to be an image.
std::string Hex(const std::string& records, std::size_t fileSize = 600) {
    return records + std::string(fileSize - records.size(), '\n');
}

ImageInfo Describe(const std::string& bytes, Controller controller = Controller::kMain) {
    testing::TempFile file("image-info", bytes);
    return DescribeImage(file.Path(), controller);
}

TEST(ImageInfoTest, HexImageGivesItsWrittenAddressesLengthAndCrc) {
    // The image is "123456789", whose CRC-32 is the well-known check value.
    ImageInfo info = Describe(
        Hex(HexRecord(0, 0, {'1', '2', '3', '4', '5', '6', '7', '8', '9'}) + ":00000001FF\r\n"));
    ASSERT_EQ(info.result, Fault::kNone);
    EXPECT_TRUE(info.convertedFromHex);
    EXPECT_EQ(info.fileSize, 600u);
    EXPECT_EQ(info.length, 9);
    EXPECT_EQ(info.crc32, 0xCBF43926u);
    ASSERT_TRUE(info.addresses);
    EXPECT_EQ(info.addresses->lowest, 0u);
    EXPECT_EQ(info.addresses->highest, 8u);

    // Two records with gaps: the image starts at 0 and its gaps are zeros, but the range is
    // what the records wrote. An extended address moves both.
    info =
        Describe(Hex(HexRecord(0, 0x10, {0xA1, 0xB2}) + ":0200200011220\r\n" + ":00000001FF\r\n"));
    EXPECT_EQ(info.result, Fault::kBadImage);  // the second record is cut short
    info = Describe(Hex(HexRecord(0, 0x10, {0xA1, 0xB2}) + HexRecord(0, 0x20, {0x11, 0x22}) +
                        ":00000001FF\r\n"));
    ASSERT_EQ(info.result, Fault::kNone);
    EXPECT_EQ(info.length, 0x22);
    EXPECT_EQ(info.crc32, 0x8CF51626u);
    ASSERT_TRUE(info.addresses);
    EXPECT_EQ(info.addresses->lowest, 0x10u);
    EXPECT_EQ(info.addresses->highest, 0x21u);

    const std::size_t big = 0x10000 + 0x40;
    info = Describe(Hex(
        std::string(":020000040001F9\r\n") + HexRecord(0, 0x30, {0xAB}) + ":00000001FF\r\n", big));
    ASSERT_EQ(info.result, Fault::kNone);
    EXPECT_EQ(info.length, 0x10031);
    EXPECT_EQ(info.addresses->lowest, 0x10030u);
    EXPECT_EQ(info.addresses->highest, 0x10030u);

    // Only an end record: Ready with nothing to send, and no range.
    info = Describe(Hex(std::string(":00000001FF\r\n")));
    ASSERT_EQ(info.result, Fault::kNone);
    EXPECT_EQ(info.length, 0);
    EXPECT_FALSE(info.addresses);
}

TEST(ImageInfoTest, RawBinaryIsSentWholeFromAddressZero) {
    std::string bytes;
    for (int i = 0; i < 32; ++i) bytes += "123456789";
    ImageInfo info = Describe(bytes, Controller::kNet);
    ASSERT_EQ(info.result, Fault::kNone);
    EXPECT_FALSE(info.convertedFromHex);
    EXPECT_EQ(info.length, 288);
    EXPECT_EQ(info.fileSize, 288u);
    EXPECT_EQ(info.crc32, 0x0177618Cu);  // zlib.crc32 of the same bytes
    ASSERT_TRUE(info.addresses);
    EXPECT_EQ(info.addresses->lowest, 0u);
    EXPECT_EQ(info.addresses->highest, 287u);
    EXPECT_FALSE(info.tooLargeForNetFlash);
}

TEST(ImageInfoTest, ControllerDecidesTheConversionAndTheNetFlashLimit) {
    // The net controller's converter skips records at 0xFFF8 and up; the main one needs room
    // for them and so refuses this file.
    const std::string hex = Hex(HexRecord(0, 0x10, {0xA1, 0xB2}) +
                                HexRecord(0, 0xFFF8, {0xAA, 0xBB}) + ":00000001FF\r\n");
    EXPECT_EQ(Describe(hex).result, Fault::kBadImage);
    ImageInfo info = Describe(hex, Controller::kNet);
    ASSERT_EQ(info.result, Fault::kNone);
    EXPECT_EQ(info.length, 0x12);
    EXPECT_EQ(info.addresses->highest, 0x11u);

    const std::string large(static_cast<std::size_t>(kLargestNetImage) + 1, '\x5A');
    EXPECT_TRUE(Describe(large, Controller::kNet).tooLargeForNetFlash);
    EXPECT_FALSE(Describe(large, Controller::kMain).tooLargeForNetFlash);
    EXPECT_FALSE(Describe(large.substr(1), Controller::kNet).tooLargeForNetFlash);
}

TEST(ImageInfoTest, FilesThatBuildNoImageAreRefusedTheSameWay) {
    const std::string refused[] = {std::string(256, 'x'), Hex(std::string(":0200000011223C\r\n")),
                                   Hex(std::string(":0300000011\r\n") + ":00000001FF\r\n")};
    for (const std::string& bytes : refused) {
        testing::TempFile file("image-info", bytes);
        const Fault built = BuildImage(file.Path(), Controller::kMain).GetFault();
        EXPECT_NE(built, Fault::kNone);
        const ImageInfo info = DescribeImage(file.Path(), Controller::kMain);
        EXPECT_EQ(info.result, built);
        EXPECT_EQ(info.length, 0);
        EXPECT_FALSE(info.addresses);
    }
    EXPECT_EQ(DescribeImage("/no/such/vantrel/image", Controller::kMain).result, Fault::kNoFile);
    EXPECT_EQ(DescribeImage("", Controller::kNet).result, Fault::kNoFile);
}

}  // namespace
}  // namespace image_info_test
}  // namespace vantrel::firmware

#include "firmware/image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_file.h"

namespace vantrel::firmware {
namespace image_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// HEX text padded with line ends to the file size, so that the file can hold its image.
std::string Hex(const std::string& records, std::size_t fileSize = 600) {
    return records + std::string(fileSize - records.size(), '\n');
}

class ImageTest : public ::testing::Test {
  protected:
    Fault Prepare(const std::string& bytes, Controller controller = Controller::kMain) {
        testing::TempFile file("image", bytes);
        built = BuildImage(file.Path(), controller);
        return built.GetFault();
    }
    const Bytes& Image() const { return built.Value().bytes; }

    Result<firmware::Image> built;
};

TEST_F(ImageTest, BinaryFileIsTheImageFromAPathOrFromBytes) {
    std::string bytes(1000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    EXPECT_EQ(Prepare(bytes), Fault::kNone);
    EXPECT_EQ(Image(), Bytes(bytes.begin(), bytes.end()));
    EXPECT_EQ(built.Value().fileSize, 1000u);
    EXPECT_FALSE(built.Value().fromHex);

    const Result<firmware::Image> inMemory =
        BuildImage(Bytes(bytes.begin(), bytes.end()), Controller::kNet);
    ASSERT_TRUE(inMemory.Ok());
    EXPECT_EQ(inMemory.Value().bytes, Image());
}

TEST_F(ImageTest, MissingSmallAndUnconvertibleFilesGiveNoImage) {
    EXPECT_EQ(BuildImage(std::string(), Controller::kMain).GetFault(), Fault::kNoFile);
    EXPECT_EQ(BuildImage("/no/such/vantrel/image", Controller::kMain).GetFault(), Fault::kNoFile);

    EXPECT_EQ(Prepare(std::string(256, 'x')), Fault::kImageTooShort);
    EXPECT_TRUE(Image().empty());
    EXPECT_EQ(built.Value().fileSize, 256u);
    EXPECT_EQ(BuildImage(Bytes(256, 1), Controller::kMain).GetFault(), Fault::kImageTooShort);

    EXPECT_EQ(Prepare(Hex(":020000001122CB\r\n")), Fault::kBadImage);
    EXPECT_TRUE(Image().empty());
    EXPECT_EQ(built.Value().fileSize, 600u);
}

TEST_F(ImageTest, HexDataLandsAtItsAddressesWithZeroGaps) {
    // Data at 0 and 8, a start address.
    EXPECT_EQ(Prepare(Hex(":03000000A1B2C3E7\r\n:0200080011FFE6\r\n:0400000500000000F7\r\n"
                          ":00000001FF\r\n")),
              Fault::kNone);
    EXPECT_EQ(Image(), (Bytes{0xA1, 0xB2, 0xC3, 0, 0, 0, 0, 0, 0x11, 0xFF}));

    // LF alone, blank lines and blanks before a record read as CR LF does, and lower-case
    // digits as upper-case ones.
    EXPECT_EQ(Prepare(Hex(":03000000a1b2c3e7\n\n  :0200080011ffe6\n\t:00000001ff\n")),
              Fault::kNone);
    EXPECT_EQ(Image(), (Bytes{0xA1, 0xB2, 0xC3, 0, 0, 0, 0, 0, 0x11, 0xFF}));
}

TEST_F(ImageTest, ExtendedAddressesSetTheBase) {
    const std::size_t size = 0x10000 + 0x20;
    EXPECT_EQ(Prepare(Hex(":020000040001F9\r\n:01001000AB44\r\n:00000001FF\r\n", size)),
              Fault::kNone);
    EXPECT_EQ(static_cast<std::int32_t>(Image().size()), 0x10011);
    EXPECT_EQ(Image()[0x10010], 0xAB);
    EXPECT_EQ(Prepare(Hex(":020000021000EC\r\n:01001000CD22\r\n:00000001FF\r\n", size)),
              Fault::kNone);
    EXPECT_EQ(Image()[0x10010], 0xCD);
}

TEST_F(ImageTest, NetFilesDropTheRecordsAtTheTopOfEachSegment) {
    // The record at 0xFFF0 runs up to 0xFFFF and is kept whole; the two after it are dropped.
    const std::string records =
        ":020000040001F9\r\n:10FFF000000102030405060708090A0B0C0D0E0F89\r\n"
        ":04FFF800DEADBEEFCD\r\n:04FFFC0001020304F7\r\n:00000001FF\r\n";
    const std::size_t size = 0x20000 + 0x40;
    EXPECT_EQ(Prepare(Hex(records, size), Controller::kNet), Fault::kNone);
    EXPECT_EQ(static_cast<std::int32_t>(Image().size()), 0x20000);
    EXPECT_EQ(Image()[0x1FFF8], 0x08);
    EXPECT_EQ(Image()[0x1FFFF], 0x0F);

    EXPECT_EQ(Prepare(Hex(records, size), Controller::kMain), Fault::kNone);
    EXPECT_EQ(Image()[0x1FFF8], 0xDE);
    EXPECT_EQ(Image()[0x1FFFF], 0x04);
}

TEST_F(ImageTest, RecordsThatDoNotFitTheirTextOrTheFileFailTheConversion) {
    const char* bad[] = {
        ":10000000A1B2C3DA\r\n:00000001FF\r\n",  // count larger than its digits
        ":0100000\r\n:00000001FF\r\n",           // shorter than a record
        ":0110000011DE\r\n:00000001FF\r\n",      // beyond the file's size
        ":020000040001F9\r\n:0100000011EE\r\n",  // base beyond the file, and no end
    };
    for (const char* records : bad) {
        EXPECT_EQ(Prepare(Hex(records)), Fault::kBadImage) << records;
    }
    const std::string longRecord = ":7F000000" + std::string(254, 'A') + "00\r\n:00000001FF\r\n";
    EXPECT_EQ(Prepare(Hex(longRecord)), Fault::kBadImage);
}

// A corrupted file never reaches a controller: every record is checked before it is used.
TEST_F(ImageTest, RecordsThatAreNotSoundFailTheConversion) {
    const char* bad[] = {
        ":03000000A1B2C3E8\r\n:00000001FF\r\n",                     // checksum one off
        ":03000000A1B2C3E7\r\n:00000001FE\r\n",                     // on the end record too
        ":03000000A1B2C3E7\r\n:020000040000FB\r\n:00000001FF\r\n",  // on an address
        ":03000000A1B2C3E7\r\n00000001FF\r\n",  // a record after the first without ':'
        ":03000000A1B2C3E7\r\n;00000001FF\r\n",
        ":03000000A1B2C3E\r\n:00000001FF\r\n",   // a digit short of a byte
        ":03000000A1B2G3E7\r\n:00000001FF\r\n",  // not a hex digit
    };
    for (const char* records : bad) {
        EXPECT_EQ(Prepare(Hex(records)), Fault::kBadImage) << records;
        EXPECT_TRUE(Image().empty());
    }
    for (Controller controller : {Controller::kMain, Controller::kNet}) {
        EXPECT_EQ(Prepare(Hex(":04FFF800DEADBEEF00\r\n:00000001FF\r\n"), controller),
                  Fault::kBadImage);
    }
}

}  // namespace
}  // namespace image_test
}  // namespace vantrel::firmware

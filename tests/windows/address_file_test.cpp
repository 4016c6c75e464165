// The address file: "ip" in the temporary directory, holding the unit's last address as "%u".
#include "panel/address_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/windows/temp_dir.h"

namespace vantrel {
namespace address_file_test {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return "<no file>";
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(AddressFileTest, PathIsTheTemporaryDirectoryAndIp) {
    testing::TempDirScope temp("vantrel-address-path");
    EXPECT_EQ(AddressFilePath(), temp.AddressFile());
}

TEST(AddressFileTest, MissingFileIsCreatedHoldingTheDefaultAddress) {
    testing::TempDirScope temp("vantrel-address-missing");
    EXPECT_EQ(LoadAddressFile(temp.AddressFile()), kDefaultUnitAddress);
    EXPECT_EQ(ReadAll(temp.AddressFile()), "3232235996");  // 192.168.1.220, no line end
}

TEST(AddressFileTest, NumberIsReadTextIsZeroAndNeitherIsRewritten) {
    testing::TempDirScope temp("vantrel-address-content");
    const struct {
        const char* content;
        uint32_t address;
    } cases[] = {
        {"167772161", 0x0A000001},       // 10.0.0.1
        {"2130706434\r\n", 0x7F000002},  // a line end after the number does no harm
        {"4294967295", 0xFFFFFFFF},     {"not a number", 0}, {"", 0},
    };
    for (const auto& c : cases) {
        WriteAll(temp.AddressFile(), c.content);
        EXPECT_EQ(LoadAddressFile(temp.AddressFile()), c.address) << c.content;
        EXPECT_EQ(ReadAll(temp.AddressFile()), c.content);
    }
}

TEST(AddressFileTest, UnwritablePlaceGivesTheDefaultAndNoFile) {
    testing::TempDirScope temp("vantrel-address-unwritable");
    const std::string nowhere = temp.Dir() + "missing-folder\\ip";
    EXPECT_EQ(LoadAddressFile(nowhere), kDefaultUnitAddress);
    EXPECT_EQ(ReadAll(nowhere), "<no file>");
    EXPECT_FALSE(StoreAddressFile(nowhere, 1));
}

TEST(AddressFileTest, StoreReplacesTheFileWithTheDecimalValue) {
    testing::TempDirScope temp("vantrel-address-store");
    WriteAll(temp.AddressFile(), "3232235996 and more text");
    EXPECT_TRUE(StoreAddressFile(temp.AddressFile(), 0x7F000037));
    EXPECT_EQ(ReadAll(temp.AddressFile()), "2130706487");
}

TEST(AddressFileTest, FailedWriteKeepsThePreviousAddress) {
    testing::TempDirScope temp("vantrel-address-failed");
    const std::string path = temp.AddressFile();
    const std::string fresh = path + ".new";
    WriteAll(path, "167772161");

    // The new file cannot be created.
    ASSERT_TRUE(CreateDirectoryA(fresh.c_str(), nullptr));
    EXPECT_FALSE(StoreAddressFile(path, 0x7F000002));
    EXPECT_EQ(ReadAll(path), "167772161");
    RemoveDirectoryA(fresh.c_str());

    // The new file is written but cannot take the old one's place: the old one is open, and
    // its opener allows no one to delete it.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(StoreAddressFile(path, 0x7F000002));
    CloseHandle(held);
    EXPECT_EQ(ReadAll(path), "167772161");
    EXPECT_EQ(ReadAll(fresh), "<no file>");

    EXPECT_TRUE(StoreAddressFile(path, 0x7F000002));
    EXPECT_EQ(ReadAll(path), "2130706434");
    EXPECT_EQ(ReadAll(fresh), "<no file>");
    EXPECT_EQ(LoadAddressFile(path), 0x7F000002u);
}

// GetTempPathA may hand back up to 255 characters; "ip" and the terminator must fit in 256.
TEST(AddressFileTest, TemporaryPathWithoutRoomForTheNameGivesNoPath) {
    char old[MAX_PATH] = {};
    const bool hadOld = GetEnvironmentVariableA("TMP", old, MAX_PATH) > 0;
    // A folder under the root whose path, with its closing backslash, has the given length.
    auto tmpOfLength = [](size_t length) { return "C:\\" + std::string(length - 4, 'd') + "\\"; };
    const std::string fits = tmpOfLength(253);
    SetEnvironmentVariableA("TMP", fits.c_str());
    EXPECT_EQ(AddressFilePath(), fits + "ip");
    const std::string tooLong = tmpOfLength(254);
    SetEnvironmentVariableA("TMP", tooLong.c_str());
    EXPECT_EQ(AddressFilePath(), "");
    SetEnvironmentVariableA("TMP", std::string(300, 'x').insert(0, "C:\\").c_str());
    EXPECT_EQ(AddressFilePath(), "");
    SetEnvironmentVariableA("TMP", hadOld ? old : nullptr);
}

}  // namespace
}  // namespace address_file_test
}  // namespace vantrel

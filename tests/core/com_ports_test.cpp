#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/com_ports.h"

namespace vantrel {
namespace com_ports_test {
namespace {

TEST(ComPortsTest, FriendlyNameGivesTheNumberAfterTheFirstComMark) {
    EXPECT_EQ(ComPortFromFriendlyName("Communications Port (COM1)"), 1);
    EXPECT_EQ(ComPortFromFriendlyName("USB Serial Port (COM12)"), 12);
    EXPECT_EQ(ComPortFromFriendlyName("Modem (COM3) (COM4)"), 3);
    EXPECT_EQ(ComPortFromFriendlyName("Port (COM 6)"), 6);  // leading space skipped
    EXPECT_EQ(ComPortFromFriendlyName("Port (COMx)"), 0);   // no digit: atoi gives 0
    EXPECT_EQ(ComPortFromFriendlyName("Port (COM-2)"), -2);
    EXPECT_EQ(ComPortFromFriendlyName("Port (COM99999999999)"), INT32_MAX);
}

TEST(ComPortsTest, NamesWithoutTheComMarkAreSkipped) {
    EXPECT_FALSE(ComPortFromFriendlyName("ECP Printer Port (LPT1)"));
    EXPECT_FALSE(ComPortFromFriendlyName("Port (com5)"));  // the search is case-sensitive
    EXPECT_FALSE(ComPortFromFriendlyName(""));
}

TEST(ComPortsTest, KeepsDiscoveryOrderAndSkipsPrinterPorts) {
    std::int32_t ports[kMaxComPorts] = {};
    std::int32_t count = -1;
    CollectComPorts({"Communications Port (COM1)", "ECP Printer Port (LPT1)",
                     "USB Serial Port (COM12)", "Port (COM1)"},
                    ComPortFromFriendlyName, ports, &count);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(ports[0], 1);
    EXPECT_EQ(ports[1], 12);
    EXPECT_EQ(ports[2], 1);  // duplicates stay
}

TEST(ComPortsTest, StoresNoMoreThanTenPorts) {
    std::vector<std::string> names;
    for (int i = 1; i <= 11; ++i) names.push_back("Port (COM" + std::to_string(i) + ")");
    std::int32_t ports[kMaxComPorts + 1] = {};
    ports[kMaxComPorts] = -77;  // the slot past the list's room
    std::int32_t count = 0;
    CollectComPorts(names, ComPortFromFriendlyName, ports, &count);
    EXPECT_EQ(count, kMaxComPorts);
    EXPECT_EQ(ports[9], 10);
    EXPECT_EQ(ports[kMaxComPorts], -77);
}

TEST(ComPortsTest, SerialCommValuesAreComAndDigits) {
    EXPECT_EQ(ComPortFromDeviceName("COM7"), 7);
    EXPECT_EQ(ComPortFromDeviceName("COM12"), 12);
    EXPECT_FALSE(ComPortFromDeviceName("COM"));
    EXPECT_FALSE(ComPortFromDeviceName("COM3x"));
    EXPECT_FALSE(ComPortFromDeviceName("LPT1"));
    EXPECT_FALSE(ComPortFromDeviceName("\\Device\\Serial0"));
}

}  // namespace
}  // namespace com_ports_test
}  // namespace vantrel

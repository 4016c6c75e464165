#include "cli/ports.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vantrel::cli {
namespace ports_posix_test {
namespace {

namespace fs = std::filesystem;

// A /dev and a /sys with three serial ports, as udev and the USB serial drivers lay them out.
class FakePortTree {
  public:
    FakePortTree() : m_root(fs::temp_directory_path() / "vantrel-ports-test") {
        fs::remove_all(m_root);
        Write("dev/ttyUSB0", "");
        Write("dev/ttyUSB1", "");
        Write("dev/ttyACM0", "");
        fs::create_directories(m_root / "dev/serial/by-id");
        fs::create_symlink("../../ttyUSB1",
                           m_root / "dev/serial/by-id/usb-FTDI_FT232R_B2-if00-port0");
        fs::create_symlink("../../ttyUSB0",
                           m_root / "dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
        fs::create_symlink("../../ttyACM0", m_root / "dev/serial/by-id/usb-Maker_Board-if00");
        // ttyUSB0: its timer already at 1 ms, beside the port; ttyUSB1: the default 16 ms, on
        // the parent; ttyACM0 has no timer at all.
        Write("sys/class/tty/ttyUSB0/idVendor", "0403\n");
        Write("sys/class/tty/ttyUSB0/idProduct", "6001\n");
        Write("sys/class/tty/ttyUSB0/manufacturer", "FTDI\n");
        Write("sys/class/tty/ttyUSB0/product", "FT232R USB UART\n");
        Write("sys/class/tty/ttyUSB0/device/latency_timer", "1\n");
        Write("sys/class/tty/ttyUSB1/idVendor", "0403\n");
        Write("sys/class/tty/ttyUSB1/idProduct", "6001\n");
        Write("sys/class/tty/ttyUSB1/latency_timer", "16\n");
        fs::create_directories(m_root / "sys/class/tty/ttyUSB1/device");
        Write("sys/class/tty/ttyACM0/device/uevent", "");
    }
    ~FakePortTree() { fs::remove_all(m_root); }

    std::string Dev() const { return (m_root / "dev").string(); }
    std::string Sys() const { return (m_root / "sys").string(); }

  private:
    void Write(const std::string& path, const std::string& text) {
        fs::create_directories((m_root / path).parent_path());
        std::ofstream(m_root / path) << text;
    }

    fs::path m_root;
};

TEST(PortsPosixTest, ListsStableNamesBesideDevicesAndWarnsOfSlowAdapters) {
    FakePortTree tree;
    const SerialPortListing listing = ListSerialPortsUnder(tree.Dev(), tree.Sys());
    const std::string d = tree.Dev();
    EXPECT_EQ(listing.lines, (std::vector<std::string>{
                                 d + "/ttyUSB0  usb 0403:6001  FTDI FT232R USB UART  " + d +
                                     "/serial/by-id/usb-FTDI_FT232R_A1-if00-port0",
                                 d + "/ttyUSB1  usb 0403:6001  " + d +
                                     "/serial/by-id/usb-FTDI_FT232R_B2-if00-port0",
                                 d + "/ttyACM0  " + d + "/serial/by-id/usb-Maker_Board-if00"}));
    ASSERT_EQ(listing.warnings.size(), 1u);
    EXPECT_EQ(listing.warnings[0],
              d +
                  "/ttyUSB1: the adapter's latency_timer is 16 ms, so each reply comes up to "
                  "that much late; set it to 1 (as root: echo 1 > " +
                  tree.Sys() + "/class/tty/ttyUSB1/device/../latency_timer)");

    // The warning for one port, named by its device or by its stable name.
    const std::string byId = d + "/serial/by-id/usb-FTDI_FT232R_B2-if00-port0";
    ASSERT_TRUE(LatencyWarning(byId, tree.Sys()));
    EXPECT_EQ(
        LatencyWarning(byId, tree.Sys())->rfind(byId + ": the adapter's latency_timer is 16", 0),
        0u);
    EXPECT_TRUE(LatencyWarning(d + "/ttyUSB1", tree.Sys()));
    EXPECT_FALSE(LatencyWarning(d + "/ttyUSB0", tree.Sys()));
    EXPECT_FALSE(LatencyWarning(d + "/ttyACM0", tree.Sys()));
    EXPECT_FALSE(LatencyWarning("/dev/vantrel-no-such-port", tree.Sys()));
}

TEST(PortsPosixTest, MachineWithoutSerialPortsListsNothing) {
    const fs::path empty = fs::temp_directory_path() / "vantrel-ports-empty";
    fs::create_directories(empty);
    const SerialPortListing listing = ListSerialPortsUnder(empty.string(), empty.string());
    EXPECT_TRUE(listing.lines.empty());
    EXPECT_TRUE(listing.warnings.empty());
    fs::remove_all(empty);
}

}  // namespace
}  // namespace ports_posix_test
}  // namespace vantrel::cli

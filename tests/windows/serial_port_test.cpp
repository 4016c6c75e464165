// SerialPort and EnumerateComPorts under Wine, on the COM port that tests/windows/with-com-port
// maps to a pty whose far end echoes every byte back. Its number comes in VANTREL_TEST_COM.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include <windows.h>

#include "serial/com_ports.h"
#include "serial/serial_port.h"

namespace vantrel {
namespace serial_port_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class SerialPortWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* com = std::getenv("VANTREL_TEST_COM");
        ASSERT_NE(com, nullptr) << "run through tests/windows/with-com-port";
        comPort = static_cast<std::uint32_t>(std::atoi(com));
        ASSERT_GT(comPort, 0u);
    }
    PortHandle OpenPanelSettings(std::uint32_t port, bool overlapped = false) {
        return serial.Open(port, 115200, ParityCode::None, 8, StopBitsCode::One,
                           FlowControlCode::None, overlapped);
    }

    std::uint32_t comPort = 0;
    int errors = 0;
    SerialPort serial{[this](const char* text) {
        EXPECT_STREQ(text, "Error");
        ++errors;
    }};
};

TEST_F(SerialPortWin32Test, OpensTheMappedPortAndCarriesBytesBothWays) {
    ASSERT_NE(OpenPanelSettings(comPort), kInvalidPort);
    EXPECT_TRUE(serial.IsOpen());
    const unsigned char frame[] = {0x04, 0x53, 0x57, 0x24};
    EXPECT_EQ(serial.Write(frame, 4), 4);
    unsigned char echo[4] = {};
    EXPECT_EQ(serial.Read(echo, 4), 4);
    EXPECT_EQ(std::memcmp(echo, frame, 4), 0);

    SerialTimeouts timeouts;
    ASSERT_TRUE(serial.GetTimeouts(&timeouts));
    EXPECT_EQ(timeouts.readIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(timeouts.readTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.readTotalTimeoutConstant, 1000u);
    EXPECT_EQ(timeouts.writeTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(timeouts.writeTotalTimeoutConstant, 1000u);
    EXPECT_EQ(errors, 0);
}

// What the device itself was given, read back from it: the panel's line at 115200 and the net
// controller's at 19200.
TEST_F(SerialPortWin32Test, DeviceHoldsTheLineSettingsThatOpenGave) {
    for (std::uint32_t baud : {115200u, 19200u}) {
        SCOPED_TRACE(baud);
        const PortHandle handle = serial.Open(comPort, baud, ParityCode::None, 8, StopBitsCode::One,
                                              FlowControlCode::None, false);
        ASSERT_NE(handle, kInvalidPort);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(handle), &dcb));
        EXPECT_EQ(dcb.BaudRate, baud);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, NOPARITY);
        EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
        EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
        EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
        EXPECT_EQ(dcb.fOutX, 0u);
        EXPECT_EQ(dcb.fInX, 0u);
        EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    }
    EXPECT_EQ(errors, 0);
}

TEST_F(SerialPortWin32Test, ReadWithNothingWaitingReturnsZeroAfterAboutASecond) {
    ASSERT_NE(OpenPanelSettings(comPort), kInvalidPort);
    unsigned char buffer[11];
    auto start = steady_clock::now();
    EXPECT_EQ(serial.Read(buffer, 11), 0);
    auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(900));
    EXPECT_LT(waited, milliseconds(2500));
}

TEST_F(SerialPortWin32Test, ShortReplyAndPurge) {
    ASSERT_NE(OpenPanelSettings(comPort), kInvalidPort);
    ASSERT_TRUE(serial.SetTimeouts({kNoIntervalTimeout, 0, 300, 1, 1000}));
    const unsigned char two[] = {0xAA, 0xCC};
    ASSERT_EQ(serial.Write(two, 2), 2);
    unsigned char buffer[8] = {};
    EXPECT_EQ(serial.Read(buffer, 8), 2);  // what came within the time-out

    ASSERT_EQ(serial.Write(two, 2), 2);
    Sleep(200);  // the echo arrives
    EXPECT_TRUE(serial.Purge());
    EXPECT_EQ(serial.Read(buffer, 8), 0);
}

TEST_F(SerialPortWin32Test, ClosedOverlappedAndRefusedPortsTransferNothing) {
    unsigned char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(serial.Read(buffer, 4), kTransferFailed);
    EXPECT_EQ(serial.Write(buffer, 4), kTransferFailed);
    EXPECT_FALSE(serial.Purge());
    serial.SetRts();
    serial.ClearDtr();
    serial.Close();
    serial.Close();

    EXPECT_EQ(OpenPanelSettings(256), kInvalidPort);
    EXPECT_FALSE(serial.IsOpen());

    ASSERT_NE(OpenPanelSettings(comPort, true), kInvalidPort);
    EXPECT_EQ(serial.Write(buffer, 4), kTransferFailed);
    EXPECT_EQ(serial.Read(buffer, 4), kTransferFailed);
    serial.Close();
    EXPECT_FALSE(serial.IsOpen());
    serial.Close();
}

TEST_F(SerialPortWin32Test, ReopeningThePortOnTheSameObjectReleasesTheFirstHandle) {
    ASSERT_NE(OpenPanelSettings(comPort), kInvalidPort);
    ASSERT_NE(OpenPanelSettings(comPort), kInvalidPort);
    serial.Close();
    SerialPort other([](const char*) {});
    EXPECT_NE(other.Open(comPort, 115200, ParityCode::None, 8, StopBitsCode::One,
                         FlowControlCode::None, false),
              kInvalidPort);
}

TEST_F(SerialPortWin32Test, UndefinedCodesAreReportedWithoutABlockingBox) {
    EXPECT_NE(serial.Open(comPort, 115200, static_cast<ParityCode>(5), 8, StopBitsCode::One,
                          FlowControlCode::None, false),
              kInvalidPort);
    EXPECT_EQ(errors, 1);
    serial.Close();
    // A port that does not exist still has its codes examined.
    EXPECT_EQ(serial.Open(250, 115200, static_cast<ParityCode>(7), 8, static_cast<StopBitsCode>(3),
                          static_cast<FlowControlCode>(9), false),
              kInvalidPort);
    EXPECT_EQ(errors, 4);
}

TEST_F(SerialPortWin32Test, EnumerateComPortsListsTheMappedPort) {
    std::int32_t ports[kMaxComPorts];
    std::int32_t count = -1;
    EnumerateComPorts(ports, &count);
    ASSERT_GE(count, 1);
    ASSERT_LE(count, kMaxComPorts);
    bool found = false;
    for (std::int32_t i = 0; i < count; ++i) found = found || ports[i] == static_cast<int>(comPort);
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace serial_port_test
}  // namespace vantrel

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "serial/com_ports.h"
#include "serial/serial_port.h"

namespace vantrel {
namespace serial_port_posix_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr std::uint32_t kPort = 41;

// A pty standing for COM port kPort: the test plays the far end on the master side.
class PtyPort {
  public:
    PtyPort() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(m_master);
        unlockpt(m_master);
        m_path = ptsname(m_master);
        // Keeps the pty alive between the port's opens and closes.
        m_slave = open(m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        tcgetattr(m_slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_slave, TCSANOW, &tio);
        MapComPort(kPort, m_path);
    }
    ~PtyPort() {
        MapComPort(kPort, "");
        close(m_slave);
        close(m_master);
    }
    void Send(const std::vector<unsigned char>& bytes) {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        usleep(20000);  // let the bytes reach the other side's input queue
    }
    std::string Received() {
        std::string bytes;
        char chunk[8192];
        fcntl(m_master, F_SETFL, O_NONBLOCK);
        ssize_t n;
        while ((n = read(m_master, chunk, sizeof chunk)) > 0) bytes.append(chunk, n);
        return bytes;
    }
    termios LineSettings() const {
        termios tio{};
        tcgetattr(m_master, &tio);  // the slave's settings, seen from the master
        return tio;
    }
    int Slave() const { return m_slave; }
    const std::string& Path() const { return m_path; }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

class SerialPortPosixTest : public ::testing::Test {
  protected:
    PortHandle OpenPanelSettings(SerialPort& port, std::uint32_t number = kPort) {
        return port.Open(number, 115200, ParityCode::None, 8, StopBitsCode::One,
                         FlowControlCode::None, false);
    }

    PtyPort pty;
    int errors = 0;
    SerialPort port{[this](const char*) { ++errors; }};
};

TEST_F(SerialPortPosixTest, OpenRefusesPortsAbove255AndLeavesTheObjectAsItWas) {
    ASSERT_NE(OpenPanelSettings(port), kInvalidPort);
    EXPECT_EQ(OpenPanelSettings(port, 256), kInvalidPort);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(OpenPanelSettings(port, 255), kInvalidPort);  // tried: nothing stands for it
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(errors, 0);
}

TEST_F(SerialPortPosixTest, OpenSetsThePanelLineSettingsAndReadTimeouts) {
    ASSERT_NE(OpenPanelSettings(port), kInvalidPort);
    termios tio = pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    SerialTimeouts timeouts;
    ASSERT_TRUE(port.GetTimeouts(&timeouts));
    EXPECT_EQ(timeouts.readIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(timeouts.readTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.readTotalTimeoutConstant, 1000u);

    // A pty keeps 8 data bits and no parity whatever it is told; rate, stop bits and
    // handshake show.
    ASSERT_NE(port.Open(kPort, 19200, ParityCode::None, 8, StopBitsCode::Two,
                        FlowControlCode::CtsRts, false),
              kInvalidPort);
    tio = pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB | CRTSCTS));
}

TEST_F(SerialPortPosixTest, UndefinedCodesAreReportedOnceEachAndKeepTheSettingAsRead) {
    ASSERT_NE(port.Open(kPort, 115200, ParityCode::None, 8, StopBitsCode::Two,
                        FlowControlCode::CtsRts, false),
              kInvalidPort);
    ASSERT_NE(port.Open(kPort, 115200, ParityCode::None, 8, static_cast<StopBitsCode>(3),
                        static_cast<FlowControlCode>(6), false),
              kInvalidPort);
    EXPECT_EQ(errors, 2);
    termios tio = pty.LineSettings();
    EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB | CRTSCTS));

    port.Close();
    // Examined after the attempt to open, so reported even when the port does not open.
    EXPECT_EQ(port.Open(99, 115200, static_cast<ParityCode>(5), 8, static_cast<StopBitsCode>(3),
                        static_cast<FlowControlCode>(6), false),
              kInvalidPort);
    EXPECT_EQ(errors, 5);
}

TEST_F(SerialPortPosixTest, ReadReturnsWhatArrivedWithinItsTimeouts) {
    ASSERT_NE(OpenPanelSettings(port), kInvalidPort);
    pty.Send({1, 2, 3, 4, 5});
    unsigned char buffer[8] = {};
    auto start = steady_clock::now();
    EXPECT_EQ(port.Read(buffer, 4), 4);
    EXPECT_LT(steady_clock::now() - start, milliseconds(100));
    EXPECT_EQ(buffer[3], 4);

    // A shorter total time-out than Open's 1000 ms, so the test does not wait seconds.
    ASSERT_TRUE(port.SetTimeouts({0xFFFFFFFFu, 0, 150, 1, 1000}));
    start = steady_clock::now();
    EXPECT_EQ(port.Read(buffer, 4), 1);  // the 5 left over, then nothing more
    auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(140));
    EXPECT_LT(waited, milliseconds(600));
    EXPECT_EQ(buffer[0], 5);
    EXPECT_EQ(port.Read(buffer, 4), 0);

    // Interval MAXDWORD with no totals: return at once with whatever is there.
    ASSERT_TRUE(port.SetTimeouts({0xFFFFFFFFu, 0, 0, 0, 0}));
    start = steady_clock::now();
    EXPECT_EQ(port.Read(buffer, 4), 0);
    EXPECT_LT(steady_clock::now() - start, milliseconds(50));
}

TEST_F(SerialPortPosixTest, PurgeDropsOnlyWhatHasArrived) {
    ASSERT_NE(OpenPanelSettings(port), kInvalidPort);
    pty.Send({0xAA, 0xBB});
    EXPECT_TRUE(port.Purge());
    pty.Send({0xCC});
    unsigned char buffer[4] = {};
    ASSERT_TRUE(port.SetTimeouts({0xFFFFFFFFu, 0, 100, 1, 1000}));
    EXPECT_EQ(port.Read(buffer, 4), 1);
    EXPECT_EQ(buffer[0], 0xCC);
}

TEST_F(SerialPortPosixTest, WriteOfSomeKilobytesCompletes) {
    ASSERT_NE(OpenPanelSettings(port), kInvalidPort);
    std::vector<unsigned char> image(3000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7);
    EXPECT_EQ(port.Write(image.data(), 3000), 3000);
    EXPECT_TRUE(port.Flush());
    EXPECT_EQ(pty.Received(), std::string(image.begin(), image.end()));
    EXPECT_TRUE(port.SetBreak());
}

TEST_F(SerialPortPosixTest, ClosedOrOverlappedObjectTransfersNothing) {
    unsigned char buffer[4] = {1, 2, 3, 4};
    SerialTimeouts timeouts;
    EXPECT_EQ(port.Read(buffer, 4), kTransferFailed);
    EXPECT_EQ(port.Write(buffer, 4), kTransferFailed);
    EXPECT_FALSE(port.Purge());
    EXPECT_FALSE(port.Flush());
    EXPECT_FALSE(port.SetBreak());
    EXPECT_FALSE(port.GetTimeouts(&timeouts));
    EXPECT_FALSE(port.SetTimeouts(timeouts));
    port.SetRts();
    port.ClearDtr();
    port.Close();
    port.Close();

    ASSERT_NE(port.Open(kPort, 115200, ParityCode::None, 8, StopBitsCode::One,
                        FlowControlCode::None, true),
              kInvalidPort);
    pty.Send({9});
    EXPECT_EQ(port.Read(buffer, 1), kTransferFailed);
    EXPECT_EQ(port.Write(buffer, 4), kTransferFailed);
    EXPECT_EQ(pty.Received(), "");
}

TEST_F(SerialPortPosixTest, PortIsExclusiveAndReopeningReleasesTheHeldHandle) {
    ASSERT_NE(OpenPanelSettings(port), kInvalidPort);
    SerialPort other([](const char*) {});
    EXPECT_EQ(OpenPanelSettings(other), kInvalidPort);
    other.Close();  // nothing to close

    // Opening the same port again on the holder closes its earlier handle first.
    EXPECT_NE(OpenPanelSettings(port), kInvalidPort);
    port.Close();
    EXPECT_NE(OpenPanelSettings(other), kInvalidPort);
}

// How an open of `path` by another, unprivileged program ends: 0, or its errno. Root opens
// through TIOCEXCL, so the child gives up root first (the pty is made openable by anyone).
int OpenAsOtherProgram(const std::string& path) {
    chmod(path.c_str(), 0666);
    const pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && setresuid(65534, 65534, 65534) != 0) _exit(200);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SerialPortPosixTest, TtyIsExclusiveToOtherProgramsWhileOpenAndReleasedOnClose) {
    int exclusive = -1;
    ASSERT_NE(OpenPanelSettings(port), kInvalidPort);
    ASSERT_EQ(ioctl(pty.Slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    EXPECT_EQ(OpenAsOtherProgram(pty.Path()), EBUSY);

    // A second SerialPort is refused as occupied, also when run as root.
    SerialPort other([](const char*) {});
    EXPECT_EQ(OpenPanelSettings(other), kInvalidPort);
    EXPECT_TRUE(other.OpenRefused());

    // The far end keeps the pty open, so the port hands the tty back itself on Close.
    port.Close();
    ASSERT_EQ(ioctl(pty.Slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(OpenAsOtherProgram(pty.Path()), 0);
    EXPECT_NE(OpenPanelSettings(other), kInvalidPort);
    EXPECT_FALSE(other.OpenRefused());
}

}  // namespace
}  // namespace serial_port_posix_test
}  // namespace vantrel

#include "serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "serial/com_ports.h"

namespace vantrel {
namespace {

using SteadyClock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

int ToFd(PortHandle port) { return static_cast<int>(port); }

std::optional<speed_t> SpeedOf(std::uint32_t baudRate) {
    switch (baudRate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return std::nullopt;
    }
}

std::optional<tcflag_t> CharacterSizeOf(std::uint8_t dataBits) {
    switch (dataBits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        case 8:
            return CS8;
        default:
            return std::nullopt;
    }
}

bool ApplyParity(termios& tio, ParityCode code) {
    tcflag_t bits = 0;
    switch (code) {
        case ParityCode::Even:
            bits = PARENB;
            break;
        case ParityCode::Mark:
            bits = PARENB | PARODD | CMSPAR;
            break;
        case ParityCode::None:
            bits = 0;
            break;
        case ParityCode::Odd:
            bits = PARENB | PARODD;
            break;
        case ParityCode::Space:
            bits = PARENB | CMSPAR;
            break;
        default:
            return false;
    }
    tio.c_cflag = (tio.c_cflag & ~(PARENB | PARODD | CMSPAR)) | bits;
    return true;
}

// termios knows one and two stop bits; one and a half becomes two.
bool ApplyStopBits(termios& tio, StopBitsCode code) {
    switch (code) {
        case StopBitsCode::One:
            tio.c_cflag &= ~CSTOPB;
            return true;
        case StopBitsCode::OneAndHalf:
        case StopBitsCode::Two:
            tio.c_cflag |= CSTOPB;
            return true;
        default:
            return false;
    }
}

// termios has one hardware handshake (RTS/CTS) for all four of the DSR/CTS codes.
bool ApplyFlowControl(termios& tio, FlowControlCode code) {
    switch (code) {
        case FlowControlCode::None:
            tio.c_cflag &= ~CRTSCTS;
            tio.c_iflag &= ~(IXON | IXOFF);
            return true;
        case FlowControlCode::CtsRts:
        case FlowControlCode::CtsDtr:
        case FlowControlCode::DsrRts:
        case FlowControlCode::DsrDtr:
            tio.c_cflag |= CRTSCTS;
            tio.c_iflag &= ~(IXON | IXOFF);
            return true;
        case FlowControlCode::XonXoff:
            tio.c_cflag &= ~CRTSCTS;
            tio.c_iflag |= IXON | IXOFF;
            tio.c_cc[VSTART] = 0x11;
            tio.c_cc[VSTOP] = 0x13;
            return true;
        default:
            return false;
    }
}

// Waits until the descriptor is ready for `events`, at most until `deadline` (none: for
// ever). False once the deadline has passed or when the other end has gone away.
bool WaitFor(int fd, short events, std::optional<SteadyClock::time_point> deadline) {
    int waitMs = -1;
    if (deadline) {
        auto left = std::chrono::duration_cast<Millis>(*deadline - SteadyClock::now()).count();
        if (left <= 0) return false;
        waitMs = static_cast<int>(std::min<long long>(left, 60000));
    }
    pollfd p{fd, events, 0};
    int ready = poll(&p, 1, waitMs);
    if (ready <= 0) return ready == 0 || errno == EINTR;  // the caller checks the time again
    return (p.revents & events) != 0;
}

std::optional<SteadyClock::time_point> TotalDeadline(std::uint32_t multiplier,
                                                     std::uint32_t constant, std::uint32_t count) {
    if (multiplier == 0 && constant == 0) return std::nullopt;
    auto total = static_cast<long long>(multiplier) * count + constant;
    return SteadyClock::now() + Millis(total);
}

}  // namespace

SerialPort::SerialPort()
    : SerialPort([](const char* text) { std::fprintf(stderr, "%s\n", text); }) {}

SerialPort::SerialPort(SerialErrorReporter reporter) : m_reporter(std::move(reporter)) {}

SerialPort::~SerialPort() { Close(); }

void SerialPort::ReportError() { m_reporter("Error"); }

PortHandle SerialPort::Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                            std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                            bool overlapped) {
    if (port > kMaxPortNumber) return kInvalidPort;
    Close();

    std::string path = ComPortDevice(port);
    int fd = path.empty() ? -1 : open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // Exclusive, as a COM port is, so that two programs never split one unit's replies. The
    // lock refuses a second holder of ours, root included; TIOCEXCL, set once the lock is
    // held, makes the kernel refuse any other program's open (EBUSY), except root's.
    m_bOpenRefused = fd < 0 && errno == EBUSY;
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        fd = -1;
        m_bOpenRefused = true;
    }
    if (fd >= 0) ioctl(fd, TIOCEXCL);
    m_hPort = fd < 0 ? kInvalidPort : fd;
    m_bOverlapped = fd >= 0 && overlapped ? 1 : 0;

    termios tio{};
    tcgetattr(fd, &tio);
    // Raw input and output as a COM port has, with the line settings as the driver had them.
    const tcflag_t readCflag = tio.c_cflag;
    const tcflag_t readFlow = tio.c_iflag & (IXON | IXOFF);
    cfmakeraw(&tio);
    tio.c_cflag = readCflag | CREAD | CLOCAL;
    tio.c_iflag |= readFlow;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    std::optional<speed_t> speed = SpeedOf(baudRate);
    if (speed) cfsetspeed(&tio, *speed);
    if (!ApplyParity(tio, parity)) ReportError();
    std::optional<tcflag_t> size = CharacterSizeOf(dataBits);
    if (size) tio.c_cflag = (tio.c_cflag & ~CSIZE) | *size;
    if (!ApplyStopBits(tio, stopBits)) ReportError();
    if (!ApplyFlowControl(tio, flow)) ReportError();
    // A rate or size the line cannot take is refused as a whole, as a driver refuses a DCB.
    if (fd >= 0 && speed && size) tcsetattr(fd, TCSANOW, &tio);
    m_timeouts = kOpenTimeouts;
    return m_hPort;
}

void SerialPort::Close() {
    if (m_hPort == kInvalidPort) return;
    // The tty stays exclusive until its last open file goes, which for a pty whose far end
    // keeps the other side open is never: hand it back first.
    ioctl(ToFd(m_hPort), TIOCNXCL);
    close(ToFd(m_hPort));
    m_hPort = kInvalidPort;
    m_bOverlapped = 0;
}

bool SerialPort::IsOpen() const { return m_hPort != kInvalidPort; }

// Follows the time-out record as a COM port does: a total limit of multiplier * count +
// constant, an interval limit between bytes, and the two special forms with an interval of
// MAXDWORD (return what is there at once; or return with the first byte).
int SerialPort::Read(void* buffer, std::uint32_t count) {
    if (m_hPort == kInvalidPort || m_bOverlapped) return kTransferFailed;
    const int fd = ToFd(m_hPort);
    const SerialTimeouts t = m_timeouts;
    const bool noInterval = t.readIntervalTimeout == kNoIntervalTimeout;
    const bool returnAtOnce =
        noInterval && t.readTotalTimeoutMultiplier == 0 && t.readTotalTimeoutConstant == 0;
    const bool returnWithFirstByte = noInterval &&
                                     t.readTotalTimeoutMultiplier == kNoIntervalTimeout &&
                                     t.readTotalTimeoutConstant != 0;
    auto deadline = returnWithFirstByte ? TotalDeadline(0, t.readTotalTimeoutConstant, count)
                                        : TotalDeadline(t.readTotalTimeoutMultiplier,
                                                        t.readTotalTimeoutConstant, count);
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::uint32_t got = 0;
    SteadyClock::time_point lastByte;
    while (got < count) {
        ssize_t n = read(fd, bytes + got, count - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            lastByte = SteadyClock::now();
            if (returnWithFirstByte) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // A raw tty with nothing to read returns 0 (VMIN and VTIME are 0) or EAGAIN.
        if (n < 0 && errno != EAGAIN) return got > 0 ? static_cast<int>(got) : kTransferFailed;
        if (returnAtOnce) break;
        auto limit = deadline;
        if (got > 0 && !noInterval && t.readIntervalTimeout != 0) {
            auto gap = lastByte + Millis(t.readIntervalTimeout);
            limit = limit ? std::min(*limit, gap) : gap;
        }
        if (!WaitFor(fd, POLLIN, limit)) break;
    }
    return static_cast<int>(got);
}

int SerialPort::Write(const void* buffer, std::uint32_t count) {
    if (m_hPort == kInvalidPort || m_bOverlapped) return kTransferFailed;
    const int fd = ToFd(m_hPort);
    auto deadline = TotalDeadline(m_timeouts.writeTotalTimeoutMultiplier,
                                  m_timeouts.writeTotalTimeoutConstant, count);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::uint32_t sent = 0;
    while (sent < count) {
        ssize_t n = write(fd, bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return sent > 0 ? static_cast<int>(sent) : kTransferFailed;
        if (!WaitFor(fd, POLLOUT, deadline)) break;
    }
    return static_cast<int>(sent);
}

bool SerialPort::Purge() { return tcflush(ToFd(m_hPort), TCIFLUSH) == 0; }

bool SerialPort::Flush() { return tcdrain(ToFd(m_hPort)) == 0; }

bool SerialPort::SetBreak() { return ioctl(ToFd(m_hPort), TIOCSBRK) == 0; }

void SerialPort::SetRts() {
    int rts = TIOCM_RTS;
    if (m_hPort != kInvalidPort) ioctl(ToFd(m_hPort), TIOCMBIS, &rts);
}

void SerialPort::ClearDtr() {
    int dtr = TIOCM_DTR;
    if (m_hPort != kInvalidPort) ioctl(ToFd(m_hPort), TIOCMBIC, &dtr);
}

// The record lives here rather than in a driver; a closed port fails as the system call does.
bool SerialPort::GetTimeouts(SerialTimeouts* timeouts) {
    if (m_hPort == kInvalidPort) return false;
    *timeouts = m_timeouts;
    return true;
}

bool SerialPort::SetTimeouts(const SerialTimeouts& timeouts) {
    if (m_hPort == kInvalidPort) return false;
    m_timeouts = timeouts;
    return true;
}

}  // namespace vantrel

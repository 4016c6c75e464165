#include "sim/serial_console.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

namespace vantrel::sim {

namespace {

const std::string kEnterLoader("\x04\x53\x57\xFE", 4);

}  // namespace

SerialConsole::SerialConsole(Unit& unit, TrafficLog& log, const SerialFaults& faults)
    : m_unit(unit), m_log(log), m_faults(faults), m_protocol(unit, faults) {}

SerialConsole::~SerialConsole() { Stop(); }

bool SerialConsole::Start() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char* name = nullptr;
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        (name = ptsname(m_master)) == nullptr) {
        m_error = std::string("cannot open a pty: ") + std::strerror(errno);
        Stop();
        return false;
    }
    m_devicePath = name;
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    // Raw from the start, as a COM port is: no echo, no line editing, until the panel sets
    // its own line settings.
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0 || pipe2(m_wake, O_CLOEXEC) != 0) {
        m_error = "cannot set up " + m_devicePath + ": " + std::strerror(errno);
        Stop();
        return false;
    }
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    tcsetattr(m_slave, TCSANOW, &tio);
    m_thread = std::thread(&SerialConsole::Serve, this);
    return true;
}

void SerialConsole::Stop() {
    if (m_wake[1] >= 0) {
        char byte = 0;
        (void)!write(m_wake[1], &byte, 1);
    }
    if (m_thread.joinable()) m_thread.join();
    for (int* fd : {&m_master, &m_slave, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

int SerialConsole::WaitReadable(int timeoutMs) {
    pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    int ready;
    do {
        ready = poll(fds, 2, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0 || (fds[1].revents & POLLIN)) return -1;
    return ready;
}

void SerialConsole::Serve() {
    std::string frame;
    auto frameStart = std::chrono::steady_clock::now();
    unsigned char chunk[4096];
    for (;;) {
        int ready = WaitReadable(frame.empty() ? -1 : kFrameGapMs);
        if (ready < 0) return;
        if (ready == 0) {
            // The rest of the frame did not follow: log the part that came and start over.
            m_log.Append("serial", frame, frameStart);
            frame.clear();
            continue;
        }
        ssize_t n = read(m_master, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        auto now = std::chrono::steady_clock::now();
        if (m_paced) m_lineFree = std::max(now, m_lineFree) + WireTime(static_cast<size_t>(n));
        for (ssize_t i = 0; i < n; ++i) {
            if (InLoader()) {
                ToLoader(std::string(reinterpret_cast<char*>(chunk) + i, n - i), now);
                break;
            }
            if (frame.empty()) frameStart = now;
            frame += static_cast<char>(chunk[i]);
            // A byte that starts no frame is taken alone, so the next one can start a frame.
            size_t length = SerialProtocol::FrameLength(static_cast<unsigned char>(frame[0]));
            if (length != 0 && frame.size() < length) continue;
            Received(frame, frameStart);
            frame.clear();
        }
    }
}

void SerialConsole::Received(const std::string& frame,
                             std::chrono::steady_clock::time_point start) {
    // Obeyed before it is logged, so whoever sees the frame in the log sees its effect too.
    std::string reply = m_protocol.OnFrame(frame);
    if (frame == kEnterLoader) {
        std::lock_guard<std::mutex> lock(m_loaderMutex);
        m_mainLoader = std::make_unique<MainBootloader>(m_unit, m_log, m_faults.loader);
    }
    m_log.Append("serial", frame, start);
    Send(reply);
}

void SerialConsole::ToLoader(const std::string& bytes, TimePoint start) {
    std::string reply;
    {
        std::lock_guard<std::mutex> lock(m_loaderMutex);
        if (m_netLoader) {
            reply = m_netLoader->OnBytes(bytes);
        } else if (m_mainLoader) {
            reply = m_mainLoader->OnBytes(bytes);
            // The main controller restarts into its new firmware.
            if (m_mainLoader->Done()) m_mainLoader.reset();
        }
    }
    m_log.Append("loader", bytes, start);
    Send(reply);
}

bool SerialConsole::InLoader() {
    std::lock_guard<std::mutex> lock(m_loaderMutex);
    return m_mainLoader || m_netLoader;
}

void SerialConsole::PowerCycle() {
    std::lock_guard<std::mutex> lock(m_loaderMutex);
    m_mainLoader.reset();
    m_netLoader.reset();
    if (BaudRate() == kNetLoaderBaud) {
        m_netLoader = std::make_unique<NetBootloader>(m_unit, m_log, m_faults.loader);
    }
}

unsigned SerialConsole::BaudRate() const {
    termios tio{};
    if (tcgetattr(m_slave, &tio) != 0) return 0;
    switch (cfgetospeed(&tio)) {
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

// Ten bits a byte: start, eight data bits, stop.
std::chrono::microseconds SerialConsole::WireTime(size_t bytes) const {
    const unsigned baud = BaudRate();
    if (baud == 0) return std::chrono::microseconds{0};
    return std::chrono::microseconds{static_cast<long long>(bytes) * 10 * 1000000 / baud};
}

void SerialConsole::Send(const std::string& reply) {
    if (reply.empty()) return;
    if (m_paced) {
        std::this_thread::sleep_until(m_lineFree);
        std::this_thread::sleep_for(WireTime(reply.size()));
        m_lineFree = std::chrono::steady_clock::now();
    }
    size_t sent = 0;
    while (sent < reply.size()) {
        ssize_t n = write(m_master, reply.data() + sent, reply.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

}  // namespace vantrel::sim

#include "sim/tcp_console.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "sim/console_protocol.h"
#include "sim/main_bootloader.h"

namespace vantrel::sim {

namespace {

const std::string kEnterLoader("\x04\x53\x57\xFE", 4);

}  // namespace

TcpConsole::TcpConsole(Unit& unit, TrafficLog& log, const Faults& faults)
    : m_unit(unit), m_log(log), m_faults(faults) {}

TcpConsole::~TcpConsole() { Stop(); }

bool TcpConsole::Start(const std::string& address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        m_error = "not an IPv4 address: " + address;
        return false;
    }
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    // Tests bind the same address again right after the previous test's connection closed.
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = sizeof addr;
    if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_listenFd, 4) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &length) != 0 ||
        pipe2(m_wake, O_CLOEXEC) != 0) {
        m_error = "cannot listen on " + address + ":" + std::to_string(port) + ": " +
                  std::strerror(errno);
        Stop();
        return false;
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread(&TcpConsole::Serve, this);
    return true;
}

void TcpConsole::Stop() {
    if (m_wake[1] >= 0) {
        char byte = 0;
        (void)!write(m_wake[1], &byte, 1);
    }
    if (m_thread.joinable()) m_thread.join();
    for (int* fd : {&m_listenFd, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

bool TcpConsole::WaitReadable(int fd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    int ready;
    do {
        ready = poll(fds, 2, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready >= 0 && !(fds[1].revents & POLLIN);
}

bool TcpConsole::SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void TcpConsole::Serve() {
    while (WaitReadable(m_listenFd, -1)) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
        if (fd < 0) continue;
        char address[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        Converse(fd, std::string(address) + ":" + std::to_string(ntohs(from.sin_port)));
        close(fd);
    }
}

bool TcpConsole::SendOk(int fd) {
    constexpr int kSplitPauseMs = 50;
    if (m_faults.loader.bareOk) return SendAll(fd, "OK");
    if (!m_faults.loader.splitOk) return SendAll(fd, "OK\r\n");
    return SendAll(fd, "OK") && WaitReadable(-1, kSplitPauseMs) && SendAll(fd, "\r\n");
}

void TcpConsole::Converse(int fd, const std::string& peer) {
    ConsoleProtocol protocol(m_unit, m_faults);
    if (!SendAll(fd, protocol.Greeting())) return;
    // After FWUPDATE the connection carries the entry frame, then the bootloader's packets.
    enum class Stage { kLines, kEntry, kLoader } stage = Stage::kLines;
    std::unique_ptr<MainBootloader> loader;
    std::string line;
    auto lineStart = std::chrono::steady_clock::now();
    char chunk[4096];
    while (WaitReadable(fd, -1)) {
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        auto now = std::chrono::steady_clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            if (stage == Stage::kLoader) {
                const std::string bytes(chunk + i, static_cast<size_t>(n - i));
                const int packetsBefore = loader->Packets();
                const std::string reply = loader->OnBytes(bytes);
                m_log.Append("loader", bytes, now);
                // Download is the second packet: a loader that erases first answers it late.
                const bool download = packetsBefore < 2 && loader->Packets() >= 2;
                if (download && m_faults.loader.lateDownloadMs > 0 &&
                    !WaitReadable(-1, m_faults.loader.lateDownloadMs)) {
                    return;
                }
                if (!SendAll(fd, reply)) return;
                if (loader->Done()) {
                    loader.reset();
                    stage = Stage::kLines;
                }
                break;
            }
            if (line.empty()) lineStart = now;
            line += chunk[i];
            if (stage == Stage::kEntry) {
                if (line.size() < kEnterLoader.size()) continue;
                const bool entered = line == kEnterLoader;
                m_log.Append("tcp", line, lineStart);
                line.clear();
                if (entered)
                    loader = std::make_unique<MainBootloader>(m_unit, m_log, m_faults.loader);
                stage = entered ? Stage::kLoader : Stage::kLines;
                if (!(entered ? SendOk(fd) : SendAll(fd, "ERROR\r\n"))) return;
                continue;
            }
            if (chunk[i] != '\n') continue;
            // Obeyed before it is logged, so whoever sees the line in the log sees its effect too.
            ConsoleProtocol::Reply reply = protocol.OnLine(line);
            m_log.Append("tcp", line, lineStart);
            if (m_lineLog) m_lineLog->Append(lineStart, peer, line);
            line.clear();
            if (reply.loader) stage = Stage::kEntry;
            if (reply.delayMs > 0 && (reply.loader || !reply.bytes.empty()) &&
                !WaitReadable(-1, reply.delayMs)) {
                return;
            }
            const bool sent = reply.loader ? SendOk(fd) : SendAll(fd, reply.bytes);
            if (!sent || reply.close) return;
        }
    }
    if (!line.empty()) m_log.Append("tcp", line, lineStart);
}

}  // namespace vantrel::sim

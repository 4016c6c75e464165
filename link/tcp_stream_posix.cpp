#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "link/tcp_stream.h"

namespace vantrel {

namespace {

constexpr std::uintptr_t kNoSocket = ~std::uintptr_t{0};

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

}  // namespace

TcpStream::TcpStream(const std::atomic<int32_t>& stop, Clock& clock)
    : m_stop(stop), m_clock(clock), m_socket(kNoSocket) {}

TcpStream::~TcpStream() { Close(); }

bool TcpStream::TimedOut(Clock::TimePoint start) { return m_clock.Now() - start >= kTimeLimit; }

TcpStream::Wait TcpStream::WaitSlice(bool forWrite) {
    pollfd fd{static_cast<int>(m_socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int ready = poll(&fd, 1, static_cast<int>(kSlice.count()));
    if (ready < 0) return errno == EINTR ? Wait::kNotYet : Wait::kFailed;
    return ready == 0 ? Wait::kNotYet : Wait::kReady;
}

bool TcpStream::Connect(const char* address, uint16_t port) {
    Close();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    // Linux would take 0.0.0.0 (a blank address control) to mean this machine; Winsock
    // refuses it, and so does the panel.
    if (inet_pton(AF_INET, address, &addr.sin_addr) != 1 || addr.sin_addr.s_addr == INADDR_ANY) {
        return false;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    m_socket = static_cast<std::uintptr_t>(fd);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno != EINPROGRESS) {
        Close();
        return false;
    }
    for (;;) {
        Wait wait = WaitSlice(true);
        if (wait == Wait::kReady) {
            int error = 0;
            socklen_t length = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
                return true;
            }
        }
        if (wait != Wait::kNotYet || m_stop != 0) {
            Close();
            return false;
        }
    }
}

int TcpStream::Send(const void* data, int count) {
    if (m_socket == kNoSocket) return -1;
    const char* bytes = static_cast<const char*>(data);
    const Clock::TimePoint start = m_clock.Now();
    int sent = 0;
    while (sent < count) {
        // MSG_NOSIGNAL: a unit that closed its side must give -1 here, not kill the process.
        ssize_t n = send(static_cast<int>(m_socket), bytes + sent, count - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if ((n < 0 && !WouldBlock()) || TimedOut(start) || WaitSlice(true) == Wait::kFailed) {
            return -1;
        }
    }
    return sent;
}

int TcpStream::Receive(void* buffer, int capacity) {
    if (m_socket == kNoSocket) return -1;
    const Clock::TimePoint start = m_clock.Now();
    for (;;) {
        Wait wait = WaitSlice(false);
        if (wait == Wait::kFailed) return -1;
        if (wait == Wait::kReady) {
            ssize_t n = recv(static_cast<int>(m_socket), buffer, capacity, 0);
            if (n >= 0) return static_cast<int>(n);
            if (!WouldBlock()) return -1;
        }
        if (m_stop != 0 || TimedOut(start)) return -1;
    }
}

void TcpStream::Close() {
    if (m_socket == kNoSocket) return;
    close(static_cast<int>(m_socket));
    m_socket = kNoSocket;
}

}  // namespace vantrel

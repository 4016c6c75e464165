#include <winsock2.h>
#include <ws2tcpip.h>

#include "link/tcp_stream.h"

namespace vantrel {

namespace {

bool WouldBlock() {
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

SOCKET AsSocket(std::uintptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

TcpStream::TcpStream(const std::atomic<int32_t>& stop, Clock& clock)
    : m_stop(stop), m_clock(clock), m_socket(INVALID_SOCKET) {}

TcpStream::~TcpStream() { Close(); }

bool TcpStream::TimedOut(Clock::TimePoint start) { return m_clock.Now() - start >= kTimeLimit; }

TcpStream::Wait TcpStream::WaitSlice(bool forWrite) {
    SOCKET s = AsSocket(m_socket);
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);  // a failed connect is reported here, not as writable
    timeval slice{0, static_cast<long>(kSlice.count() * 1000)};
    int count =
        select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &slice);
    if (count == SOCKET_ERROR) return Wait::kFailed;
    return count == 0 ? Wait::kNotYet : Wait::kReady;
}

bool TcpStream::Connect(const char* address, uint16_t port) {
    Close();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = inet_addr(address);
    if (addr.sin_addr.s_addr == INADDR_NONE || addr.sin_addr.s_addr == INADDR_ANY) return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    m_socket = s;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        Close();
        return false;
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        Close();
        return false;
    }
    for (;;) {
        Wait wait = WaitSlice(true);
        if (wait == Wait::kReady) {
            int error = 0;
            int length = sizeof error;
            if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) ==
                    0 &&
                error == 0) {
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
    if (m_socket == INVALID_SOCKET) return -1;
    const char* bytes = static_cast<const char*>(data);
    const Clock::TimePoint start = m_clock.Now();
    int sent = 0;
    while (sent < count) {
        int n = send(AsSocket(m_socket), bytes + sent, count - sent, 0);
        if (n > 0) {
            sent += n;
            continue;
        }
        if ((n == SOCKET_ERROR && !WouldBlock()) || TimedOut(start) ||
            WaitSlice(true) == Wait::kFailed) {
            return -1;
        }
    }
    return sent;
}

int TcpStream::Receive(void* buffer, int capacity) {
    if (m_socket == INVALID_SOCKET) return -1;
    const Clock::TimePoint start = m_clock.Now();
    for (;;) {
        Wait wait = WaitSlice(false);
        if (wait == Wait::kFailed) return -1;
        if (wait == Wait::kReady) {
            int n = recv(AsSocket(m_socket), static_cast<char*>(buffer), capacity, 0);
            if (n >= 0) return n;
            if (!WouldBlock()) return -1;
        }
        if (m_stop != 0 || TimedOut(start)) return -1;
    }
}

void TcpStream::Close() {
    if (m_socket == INVALID_SOCKET) return;
    closesocket(AsSocket(m_socket));
    m_socket = INVALID_SOCKET;
}

}  // namespace vantrel

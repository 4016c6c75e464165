#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "unit/tcp_stream.h"

namespace vantrel {

namespace {

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

int Fd(std::uintptr_t socket) { return static_cast<int>(socket); }

}  // namespace

std::uintptr_t TcpStream::NoSocket() { return ~std::uintptr_t{0}; }

TcpStream::Attempt TcpStream::StartConnect(const char* address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    // Linux would take 0.0.0.0 (a blank address control) to mean this machine; Winsock
    // refuses it, and so does the panel.
    if (inet_pton(AF_INET, address, &addr.sin_addr) != 1 || addr.sin_addr.s_addr == INADDR_ANY) {
        return Attempt::kFailed;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Attempt::kFailed;
    m_socket = static_cast<std::uintptr_t>(fd);
    if (m_source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(*m_source);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            return Attempt::kFailed;
        }
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        return Attempt::kConnected;
    }
    return errno == EINPROGRESS ? Attempt::kPending : Attempt::kFailed;
}

bool TcpStream::ConnectSucceeded() {
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(Fd(m_socket), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

TcpStream::Wait TcpStream::WaitSlice(bool forWrite) {
    pollfd fd{Fd(m_socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int ready = poll(&fd, 1, static_cast<int>(kSlice.count()));
    if (ready < 0) return errno == EINTR ? Wait::kNotYet : Wait::kFailed;
    return ready == 0 ? Wait::kNotYet : Wait::kReady;
}

int TcpStream::SendSome(const char* bytes, int count) {
    // MSG_NOSIGNAL: a unit that closed its side must give -1 here, not kill the process.
    const ssize_t n = send(Fd(m_socket), bytes, count, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    return WouldBlock() ? kWouldBlock : kTransferFailed;
}

int TcpStream::ReceiveSome(void* buffer, int capacity) {
    const ssize_t n = recv(Fd(m_socket), buffer, capacity, 0);
    if (n >= 0) return static_cast<int>(n);
    return WouldBlock() ? kWouldBlock : kTransferFailed;
}

void TcpStream::CloseSocket() { close(Fd(m_socket)); }

}  // namespace vantrel

#include <winsock2.h>
#include <ws2tcpip.h>

#include "unit/tcp_stream.h"

namespace vantrel {

namespace {

bool WouldBlock() {
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

SOCKET AsSocket(std::uintptr_t handle) { return static_cast<SOCKET>(handle); }

// Reads whatever urgent data the socket holds; false when it held none (a failed connect).
bool DropUrgentData(SOCKET s) {
    char sink[16];
    return recv(s, sink, sizeof sink, MSG_OOB) > 0;
}

}  // namespace

std::uintptr_t TcpStream::NoSocket() { return INVALID_SOCKET; }

TcpStream::Attempt TcpStream::StartConnect(const char* address, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = inet_addr(address);
    if (addr.sin_addr.s_addr == INADDR_NONE || addr.sin_addr.s_addr == INADDR_ANY) {
        return Attempt::kFailed;
    }
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return Attempt::kFailed;
    m_socket = s;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return Attempt::kFailed;
    if (m_source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(*m_source);
        if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            return Attempt::kFailed;
        }
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        return Attempt::kConnected;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? Attempt::kPending : Attempt::kFailed;
}

bool TcpStream::ConnectSucceeded() {
    int error = 0;
    int length = sizeof error;
    return getsockopt(AsSocket(m_socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                      &length) == 0 &&
           error == 0;
}

TcpStream::Wait TcpStream::WaitSlice(bool forWrite) {
    const SOCKET s = AsSocket(m_socket);
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);  // a failed connect is reported here, not as writable
    timeval slice{0, static_cast<long>(kSlice.count() * 1000)};
    // Winsock also puts a socket with urgent (out-of-band) data into the error set, and it stays
    // there until that data is read, while recv and send would still block: a wait for reading
    // leaves the error set out, and a wait for writing reads the urgent data and drops it. The
    // unit's console carries nothing there that the panel uses.
    const int count = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr,
                             forWrite ? &failed : nullptr, &slice);
    if (count == SOCKET_ERROR) return Wait::kFailed;
    if (count == 0) return Wait::kNotYet;
    if (FD_ISSET(s, &ready) || !DropUrgentData(s)) return Wait::kReady;
    return Wait::kNotYet;
}

int TcpStream::SendSome(const char* bytes, int count) {
    const int n = send(AsSocket(m_socket), bytes, count, 0);
    if (n != SOCKET_ERROR) return n;
    return WouldBlock() ? kWouldBlock : kTransferFailed;
}

int TcpStream::ReceiveSome(void* buffer, int capacity) {
    const int n = recv(AsSocket(m_socket), static_cast<char*>(buffer), capacity, 0);
    if (n != SOCKET_ERROR) return n;
    return WouldBlock() ? kWouldBlock : kTransferFailed;
}

void TcpStream::CloseSocket() { closesocket(AsSocket(m_socket)); }

}  // namespace vantrel

#pragma once
// The client side of HTTP/1.1 that the gateway's abuse benchmark needs, and no more: loopback
// sockets, and a reader that tells where one response ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "gateway/system/unique_fd.h"

namespace vantrel::bench {

/// A file descriptor, closed with its owner: the gateway's own kind.
using Fd = gateway::UniqueFd;

/// The gateway's address, the only one the benchmark's clients ever connect to.
constexpr uint32_t kGatewayAddress = 0x7F000001;  // 127.0.0.1

/// A non-blocking TCP connection to 127.0.0.1:port, under way: it is made when the socket turns
/// writable, and SO_ERROR then says whether it failed. When it fails at once, the socket is
/// closed and `error` holds the reason.
inline Fd ConnectLoopback(int port, int& error) {
    error = 0;
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Open()) {
        error = errno;
        return fd;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(kGatewayAddress);
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        error = errno;
        fd.Reset();
    }
    return fd;
}

/// The reason a connection under way failed; 0 once it is made.
inline int ConnectError(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

/// A request with the Host the gateway answers to without a token.
inline std::string GetRequest(const std::string& path, int port, bool keepAlive) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
           (keepAlive ? "" : "Connection: close\r\n") + "\r\n";
}

/// The status a response's first line ("HTTP/1.1 200 OK") gives; 0 when it is not one.
inline int StatusOf(const std::string& line) {
    if (line.rfind("HTTP/1.", 0) != 0 || line.size() < 12) return 0;
    return std::atoi(line.c_str() + 9);
}

/// Reads one response at a time from the bytes of a connection: its status line and the
/// headers that say where it ends (Content-Length, chunked, or the connection's close). The
/// body is counted, not kept.
class ResponseReader {
  public:
    /// Takes bytes; true once a whole response has been read (later bytes are not looked at).
    bool Feed(const char* data, size_t size) {
        while (size > 0 && m_state != State::kDone && m_state != State::kBad) {
            const size_t used = Step(data, size);
            data += used;
            size -= used;
        }
        return m_state == State::kDone;
    }
    /// The connection closed: true when that ends the response (a body read until close).
    bool Close() {
        if (m_state == State::kUntilClose) m_state = State::kDone;
        return m_state == State::kDone;
    }
    bool Done() const { return m_state == State::kDone; }
    bool Bad() const { return m_state == State::kBad; }
    int Status() const { return m_status; }
    /// Whether the connection may carry another request.
    bool KeepAlive() const { return m_keepAlive; }
    void Reset() { *this = ResponseReader(); }

  private:
    enum class State {
        kHead,
        kBody,
        kChunkSize,
        kChunkData,
        kChunkEnd,
        kTrailer,
        kUntilClose,
        kDone,
        kBad
    };

    size_t Step(const char* data, size_t size) {
        switch (m_state) {
            case State::kBody:
            case State::kChunkData:
            case State::kChunkEnd:
                return Skip(size);
            case State::kUntilClose:
                return size;
            default:
                return TakeLine(data, size);
        }
    }

    // Body bytes, or a chunk's data and its closing CRLF.
    size_t Skip(size_t size) {
        const size_t used = static_cast<size_t>(std::min<uint64_t>(m_left, size));
        m_left -= used;
        if (m_left == 0) {
            if (m_state == State::kChunkData) {
                m_state = State::kChunkEnd;
                m_left = 2;
            } else {
                m_state = m_state == State::kBody ? State::kDone : State::kChunkSize;
            }
        }
        return used;
    }

    // Gathers a line of the head, a chunk size or a trailer, and acts on it once whole.
    size_t TakeLine(const char* data, size_t size) {
        const char* end = std::find(data, data + size, '\n');
        if (end == data + size) {
            m_line.append(data, size);
            if (m_line.size() > 65536) m_state = State::kBad;
            return size;
        }
        m_line.append(data, end);
        if (!m_line.empty() && m_line.back() == '\r') m_line.pop_back();
        Line(m_line);
        m_line.clear();
        return static_cast<size_t>(end - data) + 1;
    }

    void Line(const std::string& line) {
        if (m_state == State::kChunkSize) return ChunkSize(line);
        if (m_state == State::kTrailer) {
            if (line.empty()) m_state = State::kDone;
            return;
        }
        if (m_status == 0) return StatusLine(line);
        if (!line.empty()) return Header(line);
        HeadEnd();
    }

    void StatusLine(const std::string& line) {
        m_status = StatusOf(line);
        if (m_status < 100) {
            m_state = State::kBad;
            return;
        }
        m_keepAlive = line[7] == '1';  // HTTP/1.0 closes unless it says otherwise
    }

    void Header(std::string line) {
        std::transform(line.begin(), line.end(), line.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto value = [&line](const char* name) {
            const std::string prefix = std::string(name) + ":";
            return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::string();
        };
        if (!value("content-length").empty()) {
            m_length = std::strtoull(value("content-length").c_str(), nullptr, 10);
        }
        if (value("transfer-encoding").find("chunked") != std::string::npos) m_chunked = true;
        if (value("connection").find("close") != std::string::npos) m_keepAlive = false;
        if (value("connection").find("keep-alive") != std::string::npos) m_keepAlive = true;
    }

    void HeadEnd() {
        if (m_status < 200 || m_status == 204 || m_status == 304) {
            m_state = m_status < 200 ? State::kHead : State::kDone;
            if (m_status < 200) m_status = 0;  // an interim response: the real one follows
        } else if (m_chunked) {
            m_state = State::kChunkSize;
        } else if (m_length != kNoLength) {
            m_left = m_length;
            m_state = m_left == 0 ? State::kDone : State::kBody;
        } else {
            m_state = State::kUntilClose;
            m_keepAlive = false;
        }
    }

    void ChunkSize(const std::string& line) {
        char* end = nullptr;
        m_left = std::strtoull(line.c_str(), &end, 16);
        if (end == line.c_str()) {
            m_state = State::kBad;
        } else {
            m_state = m_left == 0 ? State::kTrailer : State::kChunkData;
        }
    }

    static constexpr uint64_t kNoLength = ~uint64_t{0};
    State m_state = State::kHead;
    std::string m_line;
    int m_status = 0;
    bool m_keepAlive = true;
    bool m_chunked = false;
    uint64_t m_length = kNoLength;
    uint64_t m_left = 0;
};

/// One GET with Connection: close, on a blocking exchange bounded by `limit`: the whole
/// response as received, or "" when it failed. For waiting until the gateway is ready.
inline std::string FetchText(int port, const std::string& path, std::chrono::milliseconds limit) {
    int error = 0;
    Fd fd = ConnectLoopback(port, error);
    if (!fd.Open()) return "";
    const auto end = std::chrono::steady_clock::now() + limit;
    const std::string request = GetRequest(path, port, false);
    size_t sent = 0;
    std::string text;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd wait{fd.Get(), static_cast<short>(sent < request.size() ? POLLOUT : POLLIN), 0};
        if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) return "";
        if (sent < request.size()) {
            const ssize_t n =
                send(fd.Get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return "";
            sent += static_cast<size_t>(n);
            continue;
        }
        char buffer[16384];
        const ssize_t n = recv(fd.Get(), buffer, sizeof buffer, 0);
        if (n == 0) return text;
        if (n < 0) return "";
        text.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace vantrel::bench

#pragma once
// A large chunked POST that reads the reply while it sends, as a client does that stops when
// the server answers early or closes.
#include <poll.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/http_wire.h"

namespace vantrel::bench {

struct BodyAnswer {
    int status = 0;          // 0: no whole response came
    bool closed = false;     // the gateway closed or reset the connection
    bool timedOut = false;   // neither within the time limit
    uint64_t sentBytes = 0;  // of the body, in whole chunks, when the sending stopped
};

/// POSTs `size` bytes of application/octet-stream to 127.0.0.1:port, in 64 KiB chunks, and
/// stops at the first of: a whole response, the connection's end, or `limit`.
inline BodyAnswer PostChunked(int port, const std::string& path, uint64_t size,
                              std::chrono::milliseconds limit) {
    BodyAnswer answer;
    int error = 0;
    Fd fd = ConnectLoopback(port, error);
    if (!fd.Open()) {
        answer.closed = true;
        return answer;
    }
    constexpr size_t kChunk = 65536;
    char chunkHead[32];
    std::snprintf(chunkHead, sizeof chunkHead, "%zx\r\n", kChunk);
    // A body of ':' reads as a HEX file that does not convert: a gateway that took it all
    // would still refuse it as an image, and no unit is ever sent it.
    const std::string chunk = chunkHead + std::string(kChunk, ':') + "\r\n";
    std::string out = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                      "\r\nContent-Type: application/octet-stream\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n";
    size_t offset = 0;
    uint64_t queued = 0;  // body bytes put in `out` so far
    bool ended = false;   // the last chunk is in `out`
    ResponseReader reader;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (offset == out.size() && !ended) {
            answer.sentBytes = queued;
            const bool more = queued < size;
            out = more ? chunk : "0\r\n\r\n";
            offset = 0;
            ended = !more;
            if (more) queued += kChunk;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        const bool sending = offset < out.size();
        pollfd wait{fd.Get(), static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
        if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) < 0) {
            answer.timedOut = true;
            return answer;
        }
        if (wait.revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[16384];
            const ssize_t n = recv(fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0 && reader.Feed(buffer, static_cast<size_t>(n))) {
                answer.status = reader.Status();
                return answer;
            }
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                answer.closed = true;
                return answer;
            }
        }
        if (sending && (wait.revents & POLLOUT)) {
            const ssize_t n = send(fd.Get(), out.data() + offset, out.size() - offset,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN) {
                answer.closed = true;
                return answer;
            }
            if (n > 0) offset += static_cast<size_t>(n);
        }
    }
}

}  // namespace vantrel::bench

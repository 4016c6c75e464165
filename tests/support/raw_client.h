#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>

#include "tests/support/api_responses.h"

namespace vantrel::testing {

/// A client socket that sends exactly what a test gives it (a trickle, half a request, a hostile
/// header) and reads what comes back, every wait with a limit. Closed when it goes.
class RawClient {
  public:
    using Millis = std::chrono::milliseconds;

    RawClient(const std::string& host, int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        m_connected =
            m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() {
        if (m_fd >= 0) close(m_fd);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return m_connected; }

    bool Send(const std::string& bytes) {
        Expect(bytes);
        return m_connected && send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                  static_cast<ssize_t>(bytes.size());
    }

    /// One response: its status, or -1 when the connection closed or `limit` passed first. The
    /// whole response, headers and body (by Content-Length, or to the close), goes to `text`.
    int Response(Millis limit, std::string* text = nullptr) { return Read(limit, text, true); }

    /// A response to HEAD, which has no body whatever its Content-Length says: as Response,
    /// with the head alone in `text`.
    int HeadResponse(Millis limit, std::string* text = nullptr) { return Read(limit, text, false); }

    /// Whether the other end closes the connection within `limit`; what it sends is dropped.
    bool ClosedWithin(Millis limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Fill(end)) m_in.clear();
        return m_eof;
    }

    /// What comes within `limit`, read so far.
    const std::string& ReadFor(Millis limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Fill(end)) {
        }
        return m_in;
    }

    /// A header's value in a response's head, by its lower-case name.
    static std::string Field(const std::string& head, const std::string& name) {
        std::string lower = head;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto at = lower.find("\r\n" + name + ":");
        if (at == std::string::npos) return "";
        const auto start = head.find_first_not_of(' ', at + name.size() + 3);
        return head.substr(start, head.find("\r\n", start) - start);
    }

  private:
    // One response's head, then its body when `withBody`: by Content-Length, or to the close.
    int Read(Millis limit, std::string* text, bool withBody) {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::size_t headEnd;
        while ((headEnd = m_in.find("\r\n\r\n")) == std::string::npos) {
            if (!Fill(end)) return -1;
        }
        const std::string head = m_in.substr(0, headEnd + 4);
        const auto length = Field(head, "content-length");
        std::size_t size = head.size();
        if (withBody && !length.empty()) {
            size += std::strtoull(length.c_str(), nullptr, 10);
            while (m_in.size() < size) {
                if (!Fill(end)) return -1;
            }
        } else if (withBody) {
            while (Fill(end)) {
            }
            size = m_in.size();
        }
        if (text) *text = m_in.substr(0, size);
        const int status = head.size() > 12 ? std::atoi(head.c_str() + 9) : -1;
        if (!m_sent.empty()) {
            RecordApiResponse(m_sent.front().first, m_sent.front().second, status,
                              Field(head, "content-type"),
                              m_in.substr(head.size(), size - head.size()));
            m_sent.pop_front();
        }
        m_in.erase(0, size);
        return status;
    }

    // The requests whose responses are to come, from each request line sent whole at the start
    // of a send or after a blank line, for RecordApiResponse.
    void Expect(const std::string& bytes) {
        for (std::size_t at = 0; at != std::string::npos;) {
            const std::size_t method = bytes.find(' ', at);
            const std::size_t target = bytes.find(' ', method + 1);
            const std::size_t eol = bytes.find("\r\n", at);
            if (method < target && target < eol &&
                bytes.compare(target, 11, " HTTP/1.1\r\n") == 0 && bytes[method + 1] == '/') {
                m_sent.emplace_back(bytes.substr(at, method - at),
                                    bytes.substr(method + 1, target - method - 1));
            }
            at = bytes.find("\r\n\r\n", at);
            if (at != std::string::npos) at += 4;
        }
    }

    // Reads what is there by `end`; false on a close, an error or the time passing.
    bool Fill(std::chrono::steady_clock::time_point end) {
        const auto left =
            std::chrono::duration_cast<Millis>(end - std::chrono::steady_clock::now());
        pollfd watch{m_fd, POLLIN, 0};
        if (!m_connected || m_eof || left.count() <= 0 ||
            poll(&watch, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char chunk[16384];
        const ssize_t n = recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            m_eof = true;
            return false;
        }
        m_in.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int m_fd;
    bool m_connected = false;
    bool m_eof = false;
    std::string m_in;
    std::deque<std::pair<std::string, std::string>> m_sent;  // method and target
};

}  // namespace vantrel::testing

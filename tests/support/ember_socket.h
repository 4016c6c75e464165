#pragma once
// An Ember+ consumer's raw socket, for the provider's tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ember/glow.h"
#include "ember/s101.h"

namespace vantrel::testing {

/// An Ember+ consumer's socket from a chosen loopback address, every wait with a limit.
class EmberSocket {
  public:
    EmberSocket(const std::string& from, int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in local{}, remote{};
        local.sin_family = remote.sin_family = AF_INET;
        inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        remote.sin_port = htons(static_cast<std::uint16_t>(port));
        m_connected = bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                      connect(m_fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    }
    ~EmberSocket() { close(m_fd); }
    EmberSocket(const EmberSocket&) = delete;
    EmberSocket& operator=(const EmberSocket&) = delete;

    bool Connected() const { return m_connected; }
    bool Send(const ember::Bytes& bytes) {
        return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool Send(const ember::Root& root) {
        return Send(ember::EncodeS101({ember::S101Kind::kEmber, ember::EncodeGlow(root)}));
    }
    /// The next message within `limit`; none when the connection closed or the time passed.
    std::optional<ember::S101Message> Next(
        std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (m_messages.empty() && !m_closed) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t buffer[4096];
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_closed = true;
                break;
            }
            m_decoder.Feed(buffer, static_cast<std::size_t>(n),
                           [&](ember::S101Message m) { m_messages.push_back(std::move(m)); });
        }
        if (m_messages.empty()) return std::nullopt;
        ember::S101Message message = std::move(m_messages.front());
        m_messages.erase(m_messages.begin());
        return message;
    }
    /// The next Glow message, keep-alives passed over.
    std::optional<ember::Root> NextRoot(
        std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        while (std::optional<ember::S101Message> m = Next(limit)) {
            if (m->kind == ember::S101Kind::kEmber) return ember::DecodeGlow(m->glow).Value();
        }
        return std::nullopt;
    }
    bool ClosedWithin(std::chrono::milliseconds limit) {
        while (Next(limit)) {
        }
        return m_closed;
    }
    /// A keep-alive asked and answered.
    /// Whether the provider answers a keep-alive; what it sent before the answer (a value that
    /// changed at the unit meanwhile, say) is passed over.
    bool Alive() {
        if (!Send(ember::EncodeS101({ember::S101Kind::kKeepAliveRequest, {}}))) return false;
        while (std::optional<ember::S101Message> m = Next()) {
            if (m->kind == ember::S101Kind::kKeepAliveResponse) return true;
        }
        return false;
    }

  private:
    int m_fd;
    bool m_connected = false;
    bool m_closed = false;
    ember::S101Decoder m_decoder;
    std::vector<ember::S101Message> m_messages;
};

}  // namespace vantrel::testing

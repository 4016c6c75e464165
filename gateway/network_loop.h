#pragma once

// Shared by the network sources only: the rest of the gateway never sees Asio.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "gateway/http_server.h"

namespace vantrel::gateway {

/// The HTTP server's event loop, which the gateway's other network services share.
boost::asio::io_context& LoopOf(HttpServer::Core& core);

/// Opens, binds and listens on a dotted IPv4 `host`, port 0 for any free one, with the kernel's
/// own most for the backlog, so that a burst waits in the queue rather than on a SYN sent again
/// a second later. False, with the reason in `error`, when it cannot.
bool OpenAcceptor(boost::asio::ip::tcp::acceptor& acceptor, const std::string& host, int port,
                  std::string& error);

/// A listener's open connections, held weakly: a connection ends by itself and takes itself
/// out, while the listener counts them as it accepts and reaches them all when it stops.
template <typename Connection>
class OpenConnections {
  public:
    std::size_t Size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open.size();
    }
    void Add(const std::shared_ptr<Connection>& connection) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open.emplace(connection.get(), connection);
    }
    void Remove(Connection* connection) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open.erase(connection);
    }
    /// Runs `action` on every open connection, each on its own strand.
    template <typename Action>
    void ForEach(Action action) {
        std::vector<std::shared_ptr<Connection>> open;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const auto& entry : m_open) {
                if (auto connection = entry.second.lock()) open.push_back(connection);
            }
        }
        for (const auto& connection : open)
            connection->Post([connection, action] { action(*connection); });
    }

  private:
    mutable std::mutex m_mutex;
    std::unordered_map<Connection*, std::weak_ptr<Connection>> m_open;
};

}  // namespace vantrel::gateway

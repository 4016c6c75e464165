#pragma once

// Shared by the network sources only: the rest of the gateway never sees Asio.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "gateway/net/http_server.h"

namespace vantrel::gateway {

/// The HTTP server's event loop, which the gateway's other network services share.
boost::asio::io_context& LoopOf(HttpServer::Core& core);

/// Opens, binds and listens on a dotted IPv4 `host`, port 0 for any free one, with the kernel's
/// own most for the backlog, so that a burst waits in the queue rather than on a SYN sent again
/// a second later. False, with the reason in `error`, when it cannot, and the errno, if
/// `refused` is given, when the system refused it.
bool OpenAcceptor(boost::asio::ip::tcp::acceptor& acceptor, const std::string& host, int port,
                  std::string& error, int* refused = nullptr);

/// Accepts on `acceptor`, a listener of `ioc`, until it is closed, each connection on a strand of
/// its own handed to `take`. An accept that fails (out of descriptors, most likely) is tried again
/// after a short wait on `pause`, not at once, which would spin a thread of the loop until one is
/// free.
template <typename Take>
void AcceptEach(boost::asio::io_context& ioc, boost::asio::ip::tcp::acceptor& acceptor,
                boost::asio::steady_timer& pause, Take take) {
    acceptor.async_accept(boost::asio::make_strand(ioc), [&ioc, &acceptor, &pause, take](
                                                             boost::system::error_code ec,
                                                             boost::asio::ip::tcp::socket socket) {
        if (!acceptor.is_open()) return;
        if (ec) {
            pause.expires_after(std::chrono::milliseconds(50));
            pause.async_wait([&ioc, &acceptor, &pause, take](boost::system::error_code) {
                if (acceptor.is_open()) AcceptEach(ioc, acceptor, pause, take);
            });
            return;
        }
        take(std::move(socket));
        AcceptEach(ioc, acceptor, pause, take);
    });
}

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

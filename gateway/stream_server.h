#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "gateway/http_server.h"

namespace vantrel::gateway {

/// A client of a byte-stream service, as the service holds it. Safe to use from any thread;
/// once the connection has closed, both do nothing.
class StreamClient {
  public:
    virtual ~StreamClient() = default;
    /// Queues bytes to write, in order.
    virtual void Send(std::string bytes) = 0;
    /// Closes the connection once what was queued before has been written.
    virtual void Close() = 0;
};

/// One connection's session: given what the client sends, on the connection's strand, and
/// destroyed there when the connection closes.
class StreamSession {
  public:
    virtual ~StreamSession() = default;
    /// False closes the connection at once.
    virtual bool Received(const std::uint8_t* data, std::size_t size) = 0;
};

/// A protocol other than HTTP served on the gateway's network core.
class StreamService {
  public:
    virtual ~StreamService() = default;
    /// A new client from `address` (IPv4, first octet in the top byte); null closes it at once.
    /// The client is held weakly: the connection owns the session, not the other way round.
    virtual std::unique_ptr<StreamSession> Open(std::uint32_t address,
                                                std::weak_ptr<StreamClient> client) = 0;
};

/// A TCP listener on the HTTP server's event loop and threads, for a StreamService. Each
/// connection costs a socket and a buffer; more than `mostConnections` are closed as soon as
/// they are accepted, and a client that leaves `mostPending` bytes unread, or does not drain a
/// write within `drain`, is closed.
class StreamServer {
  public:
    struct Limits {
        std::size_t mostConnections = 64;
        std::size_t mostPending = 16 * 1024 * 1024;
        std::chrono::milliseconds drain{10000};
    };

    StreamServer(HttpServer& loop, StreamService& service, const Limits& limits);
    ~StreamServer();
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    /// Binds and listens on a dotted IPv4 `host`; port 0 takes a free one.
    bool Listen(const std::string& host, int port, std::string& error);
    int Port() const;
    /// Accepts; the loop's threads serve once the HTTP server has started.
    void Start();
    /// No more connections.
    void StopAccepting();
    /// Closes every connection; the HTTP server's Stop then ends the loop.
    void Stop();

    class Core;

  private:
    std::shared_ptr<Core> m_core;
};

}  // namespace vantrel::gateway

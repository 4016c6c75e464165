#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "gateway/net/http_server.h"

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

/// What a session wants once it has done what it could for now.
enum class SessionNext : std::uint8_t {
    kRead,      // more of what the client sends
    kContinue,  // Continue, in a later turn of the loop, before reading on
    kClose,     // the connection closed at once
};

/// One connection's session: given what the client sends, on the connection's strand, and
/// destroyed there when the connection closes. Work that takes long is done a slice at a time,
/// so that the loop's other clients are served between slices.
class StreamSession {
  public:
    virtual ~StreamSession() = default;
    virtual SessionNext Received(const std::uint8_t* data, std::size_t size) = 0;
    /// The next slice of the work Received or an earlier Continue left.
    virtual SessionNext Continue() = 0;
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
/// connection costs a socket and a buffer; more than `mostConnections`, or than `perAddress`
/// from one address, are closed as soon as they are accepted. A client that sends nothing for
/// `idle`, leaves `mostPending` bytes unread, or does not drain a write within `drain`, is
/// closed; one that leaves more than `pauseAbove` bytes unread is not read from, nor its
/// session continued, until it has read them. The kernel holds at most `sendBuffer` of what is
/// written, so that a client that does not read is paused soon rather than after megabytes.
/// TCP keep-alive finds peers that are gone.
class StreamServer {
  public:
    struct Limits {
        std::size_t mostConnections = 64;
        std::size_t perAddress = 8;
        std::chrono::milliseconds idle{30000};
        std::size_t pauseAbove = 64 * 1024;
        int sendBuffer = 64 * 1024;
        std::size_t mostPending = 16 * 1024 * 1024;
        std::chrono::milliseconds drain{10000};
    };

    StreamServer(HttpServer& loop, StreamService& service, const Limits& limits);
    ~StreamServer();
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    /// Binds and listens on a dotted IPv4 `host`; port 0 takes a free one. As HttpServer's.
    bool Listen(const std::string& host, int port, std::string& error, int* refused = nullptr);
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

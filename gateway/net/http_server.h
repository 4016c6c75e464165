#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "gateway/net/http_message.h"

namespace vantrel::gateway {

/// What a client may hold of the network core, and for how long.
struct ServerLimits {
    std::size_t connections = 4096;              // more are closed as soon as they are accepted
    std::chrono::milliseconds headers{10000};    // the request line and headers, once begun
    std::chrono::milliseconds idle{5000};        // a keep-alive connection between requests
    std::chrono::milliseconds drain{10000};      // a response or an event, written to the client
    std::size_t bodyPace = 16 * 1024;            // bytes a second a body keeps up, after `headers`
    std::chrono::milliseconds heartbeat{15000};  // a comment on a quiet event stream
    int threads = 2;
};

/// When the certificate served may be used.
struct CertificateDates {
    std::chrono::system_clock::time_point notBefore;
    std::chrono::system_clock::time_point notAfter;
};

/// HTTP/1.1 on one event loop run by a few threads: a connection costs a socket and a timer,
/// never a thread, so a slow or idle client cannot hold the service. Every wait on a client has
/// a deadline and every body its limit, counted as it is read.
class HttpServer {
  public:
    HttpServer(HttpHandler& handler, const ServerLimits& limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Binds and listens on a dotted IPv4 `host`; port 0 takes a free one. False, with the
    /// reason in `error` and the errno in `refused` if given, when it cannot.
    bool Listen(const std::string& host, int port, std::string& error, int* refused = nullptr);
    /// Serves HTTPS with this PEM certificate chain and key (see MakeTlsContext), the
    /// certificate's dates in `dates`; false, with the file and the reason, when they cannot be
    /// used, and then those in force stay. Before Start, or again while serving HTTPS: the
    /// connections accepted from then on get the new ones, the open ones keep theirs.
    bool UseTls(const std::string& certificate, const std::string& key, CertificateDates& dates,
                std::string& error);
    int Port() const;
    void Start();
    /// No more connections; idle ones and event streams close now, busy ones after their reply.
    void StopAccepting();
    /// Closes every connection and joins the threads; safe to call twice.
    void Stop();

    /// The event loop and its connections, known only to the network sources.
    class Core;
    /// For the gateway's other network services, which run on the same loop.
    Core& GetCore() { return *m_core; }

  private:
    std::unique_ptr<Core> m_core;
};

}  // namespace vantrel::gateway

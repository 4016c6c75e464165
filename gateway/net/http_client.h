#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "gateway/net/client_tls.h"
#include "gateway/net/http_message.h"

namespace vantrel::gateway {

/// Why an HTTP exchange got no whole answer.
enum class HttpFault : std::uint8_t {
    kNone,
    kUnreachable,  // no connection could be made, or it broke before the answer was whole
    kTimedOut,     // the answer was not whole within the time limit
    kStopped,      // Stop() was called
    kTls,          // TLS failed: the peer's certificate was not accepted, or it refused ours
};

/// An answer to a request: its status and body, or why there is none.
struct HttpAnswer {
    HttpFault fault = HttpFault::kNone;
    unsigned status = 0;
    HttpHeaders headers;
    std::string body;
    std::string error;  // the system's text for the fault, for a person
    /// Whether the request went out, whole or in part: a fault after that leaves unknown
    /// whether the server acted on it.
    bool sent = false;

    bool Ok() const { return fault == HttpFault::kNone; }
};

/// "http://127.0.0.1:2379" as an address and a port; none when it is not `http://` (or
/// `https://`, which sets `tls`) with a numeric address and a port. Names are not looked up, so
/// that no exchange waits on a lookup it cannot bound.
struct HttpPlace {
    std::string address;
    std::uint16_t port = 0;
    bool tls = false;
};
std::optional<HttpPlace> ParseUrl(const std::string& url);

/// One request: the client adds Host, and Content-Length for a body.
struct HttpCall {
    std::string method = "POST";
    std::string target;  // "/v3/kv/put?x=1", as sent
    HttpHeaders headers;
    std::string body;
};

/// Requests over HTTP/1.1, one connection each, to services of our own (etcd's JSON gateway,
/// another gateway), one at a time. Its limits are the system clock's: they bound the kernel's
/// waits on the socket.
class HttpClient {
  public:
    /// Over https, the peer's certificate must name its address and chain to the system's
    /// authorities, or to those of `authorities` (a PEM file) alone, when given.
    explicit HttpClient(std::string authorities = "");
    /// Over https, with `tls`, which other clients may share.
    explicit HttpClient(std::shared_ptr<const ClientTls> tls);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    /// The whole answer within `limit`; the connection (and its TLS handshake) within
    /// `connectLimit`, when that is shorter.
    HttpAnswer Send(const HttpPlace& place, const HttpCall& call, std::chrono::milliseconds limit,
                    std::chrono::milliseconds connectLimit = std::chrono::milliseconds::max());
    /// A POST of JSON: the whole answer within `limit`.
    HttpAnswer Post(const HttpPlace& place, const std::string& target, const std::string& body,
                    std::chrono::milliseconds limit);

    /// Hands each piece of a long answer's body to `piece` as it comes, until the answer ends,
    /// the link breaks, `piece` gives false or Stop() is called. `limit` bounds the connection and
    /// the answer's head; the body may take as long as it needs. The answer's body is left empty,
    /// unless its status is not 200: the body is then the refusal's reason, kept whole.
    HttpAnswer Stream(const HttpPlace& place, const HttpCall& call, std::chrono::milliseconds limit,
                      const std::function<bool(std::string_view)>& piece);

    /// Ends the exchange under way, and any later one at once. Safe from any thread.
    void Stop();

  private:
    struct Loop;
    std::unique_ptr<Loop> m_loop;
};

}  // namespace vantrel::gateway

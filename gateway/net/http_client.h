#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::gateway {

/// Why an HTTP exchange got no whole answer.
enum class HttpFault : std::uint8_t {
    kNone,
    kUnreachable,  // no connection could be made, or it broke before the answer was whole
    kTimedOut,     // the answer was not whole within the time limit
    kStopped,      // Stop() was called
};

/// An answer to a request: its status and body, or why there is none.
struct HttpAnswer {
    HttpFault fault = HttpFault::kNone;
    unsigned status = 0;
    std::string body;
    std::string error;  // the system's text for the fault, for a person

    bool Ok() const { return fault == HttpFault::kNone; }
};

/// "http://127.0.0.1:2379" as an address and a port; none when it is not `http://` with a
/// numeric address and a port. Names are not looked up, so that no exchange waits on a lookup
/// it cannot bound.
struct HttpPlace {
    std::string address;
    std::uint16_t port = 0;
};
std::optional<HttpPlace> ParseHttpUrl(const std::string& url);

/// A POST of JSON over HTTP/1.1, one connection each, to a service of our own (etcd's JSON
/// gateway). Its limits are the system clock's: they bound the kernel's waits on the socket.
class HttpClient {
  public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    /// The whole answer within `limit`.
    HttpAnswer Post(const HttpPlace& place, const std::string& target, const std::string& body,
                    std::chrono::milliseconds limit);

    /// Hands each piece of a long answer's body to `piece` as it comes, until the answer ends,
    /// the link breaks or Stop() is called. `limit` bounds the connection and the answer's head;
    /// the body may take as long as it needs. The answer's body is left empty.
    HttpAnswer PostStreaming(const HttpPlace& place, const std::string& target,
                             const std::string& body, std::chrono::milliseconds limit,
                             const std::function<void(std::string_view)>& piece);

    /// Ends the exchange under way, and any later one at once. Safe from any thread.
    void Stop();

  private:
    struct Loop;
    std::unique_ptr<Loop> m_loop;
};

}  // namespace vantrel::gateway

#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::gateway {

class Subscription;

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;
/// A header's value ("" when absent); names match whatever their case.
std::string HeaderValue(const HttpHeaders& headers, std::string_view name);

/// A request as the network core hands it over: no HTTP library's types cross this line.
struct HttpRequest {
    std::string method;  // "GET", "POST", ...
    std::string path;    // percent-decoded, without the query
    std::string query;   // as sent, after '?'
    HttpHeaders headers;
    std::string body;
    std::string peer;  // the client's address

    /// A header's value ("" when absent); names match whatever their case.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
    /// A query parameter, percent-decoded ("" when absent).
    std::string Param(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    HttpHeaders headers;
    /// An event stream: the body goes first, then every event the subscription yields, until
    /// it closes or the client goes.
    std::shared_ptr<Subscription> stream;
};

/// Sends the response to a request; callable from any thread, once.
using Respond = std::function<void(HttpResponse)>;

/// What the gateway does with requests; the network core calls it on its own threads, which
/// must never wait on a unit.
class HttpHandler {
  public:
    virtual ~HttpHandler() = default;
    /// Called once the headers are in, before any body is read: a response refuses the request
    /// there and then; otherwise `bodyLimit` is set to the most its body may hold.
    virtual std::optional<HttpResponse> Admit(const HttpRequest& head, std::size_t& bodyLimit) = 0;
    virtual void Serve(HttpRequest request, Respond respond) = 0;
};

/// "%41b+c" -> "Ab c" in a query (`plusIsSpace`), "Ab+c" in a path; a broken escape is kept.
std::string PercentDecode(std::string_view text, bool plusIsSpace);

}  // namespace vantrel::gateway

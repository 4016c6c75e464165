#include "gateway/net/http_client.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <charconv>

namespace vantrel::gateway {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

struct HttpClient::Loop {
    asio::io_context ioc;
    beast::tcp_stream stream{ioc};
    std::atomic<bool> stopped{false};
};

namespace {

// etcd's largest answer is a range over every snapshot.
constexpr std::uint64_t kBodyLimit = 64 * 1024 * 1024;

/// Runs one asynchronous step on `ioc` to its end, and gives its error: the stream's expiry
/// bounds it, and Stop() cancels it from another thread.
template <typename Start>
beast::error_code Step(asio::io_context& ioc, Start start) {
    beast::error_code result;
    start([&result](beast::error_code ec, auto&&...) { result = ec; });
    ioc.restart();
    ioc.run();
    return result;
}

HttpAnswer Failed(HttpFault fault, const std::string& error) {
    HttpAnswer answer;
    answer.fault = fault;
    answer.error = error;
    return answer;
}

HttpAnswer FailedStep(const beast::error_code& ec, bool stopped) {
    if (stopped) return Failed(HttpFault::kStopped, "stopped");
    if (ec == beast::error::timeout) return Failed(HttpFault::kTimedOut, ec.message());
    return Failed(HttpFault::kUnreachable, ec.message());
}

beast::error_code Send(asio::io_context& ioc, beast::tcp_stream& stream, const HttpPlace& place,
                       const std::string& target, const std::string& body) {
    beast::error_code ec;
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(place.address, ec), place.port);
    if (ec) return ec;
    ec = Step(ioc, [&](auto done) { stream.async_connect(endpoint, done); });
    if (ec) return ec;
    http::request<http::string_body> request{http::verb::post, target, 11};
    request.set(http::field::host, place.address + ":" + std::to_string(place.port));
    request.set(http::field::content_type, "application/json");
    request.body() = body;
    request.prepare_payload();
    return Step(ioc, [&](auto done) { http::async_write(stream, request, done); });
}

}  // namespace

std::optional<HttpPlace> ParseHttpUrl(const std::string& url) {
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
    std::string rest = url.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    HttpPlace place;
    place.address = rest.substr(0, colon);
    const char* first = rest.data() + colon + 1;
    const char* last = rest.data() + rest.size();
    const auto [end, error] = std::from_chars(first, last, place.port);
    beast::error_code ec;
    asio::ip::make_address(place.address, ec);
    if (error != std::errc() || end != last || first == last || place.port == 0 || ec) {
        return std::nullopt;
    }
    return place;
}

HttpClient::HttpClient() : m_loop(std::make_unique<Loop>()) {}
HttpClient::~HttpClient() = default;

HttpAnswer HttpClient::Post(const HttpPlace& place, const std::string& target,
                            const std::string& body, std::chrono::milliseconds limit) {
    Loop& loop = *m_loop;
    if (loop.stopped) return Failed(HttpFault::kStopped, "stopped");
    loop.stream.expires_after(limit);
    beast::error_code ec = Send(loop.ioc, loop.stream, place, target, body);
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(kBodyLimit);
    if (!ec) {
        ec =
            Step(loop.ioc, [&](auto done) { http::async_read(loop.stream, buffer, parser, done); });
    }
    loop.stream.close();
    if (ec) return FailedStep(ec, loop.stopped);
    HttpAnswer answer;
    answer.status = parser.get().result_int();
    answer.body = std::move(parser.get().body());
    return answer;
}

HttpAnswer HttpClient::PostStreaming(const HttpPlace& place, const std::string& target,
                                     const std::string& body, std::chrono::milliseconds limit,
                                     const std::function<void(std::string_view)>& piece) {
    Loop& loop = *m_loop;
    if (loop.stopped) return Failed(HttpFault::kStopped, "stopped");
    loop.stream.expires_after(limit);
    beast::error_code ec = Send(loop.ioc, loop.stream, place, target, body);
    beast::flat_buffer buffer;
    http::response_parser<http::buffer_body> parser;
    parser.body_limit(boost::none);
    if (!ec) {
        ec = Step(loop.ioc,
                  [&](auto done) { http::async_read_header(loop.stream, buffer, parser, done); });
    }
    HttpAnswer answer;
    if (!ec) {
        answer.status = parser.get().result_int();
        loop.stream.expires_never();
    }
    char chunk[4096];
    // Stop's cancel may have run between two reads, with none to cancel: the flag ends it then.
    while (!ec && !parser.is_done() && !loop.stopped) {
        parser.get().body().data = chunk;
        parser.get().body().size = sizeof chunk;
        ec = Step(loop.ioc,
                  [&](auto done) { http::async_read_some(loop.stream, buffer, parser, done); });
        if (ec == http::error::need_buffer) ec = {};
        const std::string_view got(chunk, sizeof chunk - parser.get().body().size);
        // A refusal's body is its reason, kept for the caller rather than streamed.
        if (answer.status == 200) {
            if (!got.empty()) piece(got);
        } else {
            answer.body.append(got);
        }
    }
    loop.stream.close();
    if (ec || loop.stopped) return FailedStep(ec, loop.stopped);
    return answer;
}

void HttpClient::Stop() {
    m_loop->stopped = true;
    Loop* loop = m_loop.get();
    asio::post(loop->ioc, [loop] { loop->stream.cancel(); });
}

}  // namespace vantrel::gateway

#include "gateway/net/http_client.h"

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <atomic>
#include <charconv>
#include <optional>

namespace vantrel::gateway {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

struct HttpClient::Loop {
    asio::io_context ioc;
    beast::tcp_stream stream{ioc};
    // Over https, made at the first exchange; the stream anew for each.
    std::string authorities;
    std::optional<asio::ssl::context> tls;
    std::optional<beast::ssl_stream<beast::tcp_stream>> secure;
    std::atomic<bool> stopped{false};
};

namespace {

// etcd's largest answer is a range over every snapshot.
constexpr std::uint64_t kBodyLimit = 64 * 1024 * 1024;

/// A client's loop, and whether Stop() was called.
struct Runner {
    asio::io_context& ioc;
    const std::atomic<bool>& stopped;
};

/// Runs one asynchronous step on the loop to its end, and gives its error: the stream's expiry
/// bounds it, and Stop() cancels it from another thread. Stop()'s cancel may have run in an
/// earlier step, after that step's operation ended, so a step checks the flag before it starts.
template <typename Start>
beast::error_code Step(const Runner& runner, Start start) {
    if (runner.stopped) return asio::error::operation_aborted;
    beast::error_code result;
    start([&result](beast::error_code ec, auto&&...) { result = ec; });
    runner.ioc.restart();
    runner.ioc.run();
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

http::request<http::string_body> Request(const HttpPlace& place, const HttpCall& call) {
    http::request<http::string_body> request;
    request.version(11);
    request.method_string(call.method);
    request.target(call.target);
    request.set(http::field::host, place.address + ":" + std::to_string(place.port));
    for (const auto& [name, value] : call.headers) request.set(name, value);
    request.body() = call.body;
    if (!call.body.empty() || call.method == "POST" || call.method == "PUT") {
        request.prepare_payload();
    }
    return request;
}

beast::error_code Connect(const Runner& runner, beast::tcp_stream& stream, const HttpPlace& place) {
    beast::error_code ec;
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(place.address, ec), place.port);
    if (ec) return ec;
    return Step(runner, [&](auto done) { stream.async_connect(endpoint, done); });
}

beast::error_code SendPost(const Runner& runner, beast::tcp_stream& stream, const HttpPlace& place,
                           const std::string& target, const std::string& body) {
    beast::error_code ec = Connect(runner, stream, place);
    if (ec) return ec;
    auto request = Request(place, {"POST", target, {{"Content-Type", "application/json"}}, body});
    return Step(runner, [&](auto done) { http::async_write(stream, request, done); });
}

// Writes the request and reads the whole answer into `answer`.
template <typename Stream>
beast::error_code Exchange(const Runner& runner, Stream& stream, const HttpPlace& place,
                           const HttpCall& call, HttpAnswer& answer) {
    auto request = Request(place, call);
    beast::error_code ec =
        Step(runner, [&](auto done) { http::async_write(stream, request, done); });
    if (ec) return ec;
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(kBodyLimit);
    ec = Step(runner, [&](auto done) { http::async_read(stream, buffer, parser, done); });
    if (ec) return ec;
    answer.status = parser.get().result_int();
    for (const auto& field : parser.get()) {
        answer.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    answer.body = std::move(parser.get().body());
    return ec;
}

std::optional<asio::ssl::context> ClientTls(const std::string& authorities, beast::error_code& ec) {
    asio::ssl::context tls(asio::ssl::context::tls_client);
    tls.set_options(asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
    tls.set_verify_mode(asio::ssl::verify_peer);
    tls.set_default_verify_paths(ec);
    if (!ec && !authorities.empty()) tls.load_verify_file(authorities, ec);
    if (ec) return std::nullopt;
    return tls;
}

}  // namespace

std::optional<HttpPlace> ParseUrl(const std::string& url) {
    HttpPlace place;
    const std::string http = "http://", https = "https://";
    place.tls = url.compare(0, https.size(), https) == 0;
    const std::string& scheme = place.tls ? https : http;
    if (url.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
    std::string rest = url.substr(scheme.size());
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
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

std::optional<HttpPlace> ParseHttpUrl(const std::string& url) {
    std::optional<HttpPlace> place = ParseUrl(url);
    if (place && place->tls) return std::nullopt;
    return place;
}

HttpClient::HttpClient(std::string authorities) : m_loop(std::make_unique<Loop>()) {
    m_loop->authorities = std::move(authorities);
}
HttpClient::~HttpClient() = default;

HttpAnswer HttpClient::Send(const HttpPlace& place, const HttpCall& call,
                            std::chrono::milliseconds limit,
                            std::chrono::milliseconds connectLimit) {
    Loop& loop = *m_loop;
    if (loop.stopped) return Failed(HttpFault::kStopped, "stopped");
    const Runner runner{loop.ioc, loop.stopped};
    const auto began = std::chrono::steady_clock::now();
    beast::error_code ec;
    if (place.tls && !loop.tls) loop.tls = ClientTls(loop.authorities, ec);
    if (ec) return Failed(HttpFault::kUnreachable, "the TLS authorities: " + ec.message());
    if (place.tls) loop.secure.emplace(loop.ioc, *loop.tls);
    beast::tcp_stream& lowest = place.tls ? beast::get_lowest_layer(*loop.secure) : loop.stream;
    lowest.expires_after(std::min(limit, connectLimit));
    ec = Connect(runner, lowest, place);
    if (!ec && place.tls) {
        loop.secure->set_verify_callback(asio::ssl::host_name_verification(place.address));
        ec = Step(runner, [&](auto done) {
            loop.secure->async_handshake(asio::ssl::stream_base::client, done);
        });
    }
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - began);
    lowest.expires_after(limit > spent ? limit - spent : std::chrono::milliseconds(0));
    HttpAnswer answer;
    const bool connected = !ec;
    if (connected) {
        ec = place.tls ? Exchange(runner, *loop.secure, place, call, answer)
                       : Exchange(runner, loop.stream, place, call, answer);
    }
    lowest.close();
    if (ec) {
        HttpAnswer failed = FailedStep(ec, loop.stopped);
        failed.sent = connected;
        return failed;
    }
    return answer;
}

HttpAnswer HttpClient::Post(const HttpPlace& place, const std::string& target,
                            const std::string& body, std::chrono::milliseconds limit) {
    return Send(place, {"POST", target, {{"Content-Type", "application/json"}}, body}, limit);
}

HttpAnswer HttpClient::PostStreaming(const HttpPlace& place, const std::string& target,
                                     const std::string& body, std::chrono::milliseconds limit,
                                     const std::function<void(std::string_view)>& piece) {
    Loop& loop = *m_loop;
    if (loop.stopped) return Failed(HttpFault::kStopped, "stopped");
    const Runner runner{loop.ioc, loop.stopped};
    loop.stream.expires_after(limit);
    beast::error_code ec = SendPost(runner, loop.stream, place, target, body);
    beast::flat_buffer buffer;
    http::response_parser<http::buffer_body> parser;
    parser.body_limit(boost::none);
    if (!ec) {
        ec = Step(runner,
                  [&](auto done) { http::async_read_header(loop.stream, buffer, parser, done); });
    }
    HttpAnswer answer;
    if (!ec) {
        answer.status = parser.get().result_int();
        loop.stream.expires_never();
    }
    char chunk[4096];
    while (!ec && !parser.is_done()) {
        parser.get().body().data = chunk;
        parser.get().body().size = sizeof chunk;
        ec = Step(runner,
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
    if (ec) return FailedStep(ec, loop.stopped);
    return answer;
}

void HttpClient::Stop() {
    m_loop->stopped = true;
    Loop* loop = m_loop.get();
    asio::post(loop->ioc, [loop] {
        loop->stream.cancel();
        if (loop->secure) beast::get_lowest_layer(*loop->secure).cancel();
    });
}

}  // namespace vantrel::gateway

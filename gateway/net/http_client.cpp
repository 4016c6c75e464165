#include "gateway/net/http_client.h"

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <atomic>
#include <charconv>
#include <cstddef>
#include <optional>

namespace vantrel::gateway {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

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
/// What every step's operation calls when it ends. One type for all, so that each of Beast's
/// operations is compiled once per stream, not once per call: a fifth of this file's build.
struct StepDone {
    beast::error_code& result;
    void operator()(beast::error_code ec, std::size_t = 0) const { result = ec; }
};

template <typename Start>
beast::error_code Step(const Runner& runner, Start start) {
    if (runner.stopped) return asio::error::operation_aborted;
    beast::error_code result;
    start(StepDone{result});
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

// Writes the request, then hands the answer's body to `piece` as it comes, until it has no more
// or `piece` wants no more: without a limit once the head is in.
template <typename Stream>
beast::error_code Follow(const Runner& runner, Stream& stream, const HttpPlace& place,
                         const HttpCall& call, HttpAnswer& answer,
                         const std::function<bool(std::string_view)>& piece) {
    auto request = Request(place, call);
    beast::error_code ec =
        Step(runner, [&](auto done) { http::async_write(stream, request, done); });
    beast::flat_buffer buffer;
    http::response_parser<http::buffer_body> parser;
    parser.body_limit(boost::none);
    if (!ec) {
        ec =
            Step(runner, [&](auto done) { http::async_read_header(stream, buffer, parser, done); });
    }
    if (ec) return ec;
    answer.status = parser.get().result_int();
    beast::get_lowest_layer(stream).expires_never();
    char chunk[4096];
    while (!ec && !parser.is_done()) {
        parser.get().body().data = chunk;
        parser.get().body().size = sizeof chunk;
        ec = Step(runner, [&](auto done) { http::async_read_some(stream, buffer, parser, done); });
        if (ec == http::error::need_buffer) ec = {};
        const std::string_view got(chunk, sizeof chunk - parser.get().body().size);
        // A refusal's body is its reason, kept for the caller rather than streamed.
        if (answer.status == 200) {
            if (!got.empty() && !piece(got)) break;
        } else {
            answer.body.append(got);
        }
    }
    return ec;
}

}  // namespace

struct HttpClient::Loop {
    asio::io_context ioc;
    beast::tcp_stream stream{ioc};
    // Over https: made at the first exchange from `authorities` unless given; the stream anew
    // for each.
    std::string authorities;
    std::shared_ptr<const ClientTls> tls;
    std::optional<beast::ssl_stream<beast::tcp_stream>> secure;
    std::atomic<bool> stopped{false};

    Runner Runs() { return {ioc, stopped}; }

    /// Makes the stream an exchange with `place` goes over; false, with the reason, when its
    /// TLS cannot be made.
    bool Ready(const HttpPlace& place, std::string& error) {
        if (!place.tls) return true;
        if (!tls) {
            ClientTls::Made made = ClientTls::Make({authorities, "", ""});
            if (!made.Ok()) {
                error = made.GetError();
                return false;
            }
            tls = made.Value();
        }
        secure.emplace(ioc, tls->Context());
        return true;
    }

    beast::tcp_stream& Lowest(const HttpPlace& place) {
        return place.tls ? beast::get_lowest_layer(*secure) : stream;
    }

    /// Connects, and over https shakes hands, within the stream's expiry.
    beast::error_code Open(const HttpPlace& place) {
        beast::error_code ec;
        const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(place.address, ec),
                                               place.port);
        if (ec) return ec;
        ec = Step(Runs(), [&](auto done) { Lowest(place).async_connect(endpoint, done); });
        if (ec || !place.tls) return ec;
        // OpenSSL checks that the certificate names the address dialled, and says so if not.
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(secure->native_handle()),
                                      place.address.c_str());
        return Step(Runs(), [&](auto done) {
            secure->async_handshake(asio::ssl::stream_base::client, done);
        });
    }

    /// Why a step failed, in words: over TLS, what was wrong with the peer's certificate.
    HttpAnswer Failure(const beast::error_code& ec, bool opened) {
        if (stopped) return Failed(HttpFault::kStopped, "stopped");
        if (ec == beast::error::timeout) return Failed(HttpFault::kTimedOut, ec.message());
        // What a server that does not speak TLS does with a handshake.
        if (!opened && ec == asio::ssl::error::stream_truncated) {
            return Failed(HttpFault::kUnreachable, "it ended the TLS handshake (not https?)");
        }
        if (ec.category() != asio::error::get_ssl_category()) {
            return Failed(HttpFault::kUnreachable, ec.message());
        }
        const long verified = secure ? SSL_get_verify_result(secure->native_handle()) : X509_V_OK;
        if (verified != X509_V_OK) {
            return Failed(HttpFault::kTls, std::string("the certificate it showed: ") +
                                               X509_verify_cert_error_string(verified));
        }
        return Failed(HttpFault::kTls, ec.message());
    }
};

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

HttpClient::HttpClient(std::string authorities) : m_loop(std::make_unique<Loop>()) {
    m_loop->authorities = std::move(authorities);
}
HttpClient::HttpClient(std::shared_ptr<const ClientTls> tls) : m_loop(std::make_unique<Loop>()) {
    m_loop->tls = std::move(tls);
}
HttpClient::~HttpClient() = default;

HttpAnswer HttpClient::Send(const HttpPlace& place, const HttpCall& call,
                            std::chrono::milliseconds limit,
                            std::chrono::milliseconds connectLimit) {
    Loop& loop = *m_loop;
    if (loop.stopped) return Failed(HttpFault::kStopped, "stopped");
    const auto began = std::chrono::steady_clock::now();
    std::string error;
    if (!loop.Ready(place, error)) return Failed(HttpFault::kTls, error);
    beast::tcp_stream& lowest = loop.Lowest(place);
    lowest.expires_after(std::min(limit, connectLimit));
    beast::error_code ec = loop.Open(place);
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - began);
    lowest.expires_after(limit > spent ? limit - spent : std::chrono::milliseconds(0));
    HttpAnswer answer;
    const bool connected = !ec;
    if (connected) {
        ec = place.tls ? Exchange(loop.Runs(), *loop.secure, place, call, answer)
                       : Exchange(loop.Runs(), loop.stream, place, call, answer);
    }
    lowest.close();
    if (ec) {
        HttpAnswer failed = loop.Failure(ec, connected);
        failed.sent = connected;
        return failed;
    }
    return answer;
}

HttpAnswer HttpClient::Post(const HttpPlace& place, const std::string& target,
                            const std::string& body, std::chrono::milliseconds limit) {
    return Send(place, {"POST", target, {{"Content-Type", "application/json"}}, body}, limit);
}

HttpAnswer HttpClient::Stream(const HttpPlace& place, const HttpCall& call,
                              std::chrono::milliseconds limit,
                              const std::function<bool(std::string_view)>& piece) {
    Loop& loop = *m_loop;
    if (loop.stopped) return Failed(HttpFault::kStopped, "stopped");
    std::string error;
    if (!loop.Ready(place, error)) return Failed(HttpFault::kTls, error);
    beast::tcp_stream& lowest = loop.Lowest(place);
    lowest.expires_after(limit);
    beast::error_code ec = loop.Open(place);
    const bool opened = !ec;
    HttpAnswer answer;
    if (opened) {
        ec = place.tls ? Follow(loop.Runs(), *loop.secure, place, call, answer, piece)
                       : Follow(loop.Runs(), loop.stream, place, call, answer, piece);
    }
    lowest.close();
    if (ec) return loop.Failure(ec, opened);
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

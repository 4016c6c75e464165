// With stream_server.cpp and request_head.cpp, the only files that know Boost.Asio and Beast:
// the gateway sees HttpRequest, HttpResponse and HttpHandler.
#include "gateway/net/http_server.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

#include "gateway/net/event_hub.h"
#include "gateway/net/network_loop.h"
#include "gateway/net/request_head.h"
#include "gateway/net/tls_context.h"

namespace vantrel::gateway {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Timer = net::steady_timer;
using TlsStream = net::ssl::stream<tcp::socket>;

constexpr std::size_t kMostHeaderBytes = 16 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::chrono::seconds kLinger{2};

// A refusal the core makes itself, in the API's shape.
HttpResponse Refusal(int status, const std::string& why) {
    return {status, "application/json", "{\"error\":\"" + why + "\"}", {}, nullptr};
}

// A body is framed by its length or by chunks alone. Any other coding, or chunked beside
// another, is refused: Beast would take such a request as bodiless and read its body as the
// next request.
template <typename Message>
bool ChunkedOrNone(const Message& message) {
    const auto codings = message.equal_range(http::field::transfer_encoding);
    if (codings.first == codings.second) return true;
    if (std::next(codings.first) != codings.second) return false;
    return beast::iequals(codings.first->value(), "chunked");
}

}  // namespace

template <typename Stream>
class Session;

/// What the server asks of any connection, plain or TLS.
class Connection {
  public:
    virtual ~Connection() = default;
    /// Each on the connection's strand, posted there by Post.
    virtual void Shut() = 0;
    virtual void EndIfIdle() = 0;
    virtual void Post(std::function<void()> function) = 0;
};

class HttpServer::Core {
  public:
    Core(HttpHandler& handler, const ServerLimits& limits)
        : handler(handler), limits(limits), work(net::make_work_guard(ioc)) {}

    void Accept();
    template <typename Stream>
    void Begin(const std::shared_ptr<Session<Stream>>& session);

    // Before the loop: a connection that the loop's end destroys still takes itself out.
    OpenConnections<Connection> open;
    HttpHandler& handler;
    const ServerLimits limits;
    net::io_context ioc;
    // The acceptor and its pause on a strand of their own, as stopping closes it from outside.
    tcp::acceptor acceptor{net::make_strand(ioc)};
    Timer acceptPause{acceptor.get_executor()};
    net::executor_work_guard<net::io_context::executor_type> work;
    // HTTPS when set. A reload puts a new one here for the connections to come; each open one
    // holds the one it began with.
    std::mutex tlsMutex;
    std::shared_ptr<net::ssl::context> tls;
    std::vector<std::thread> threads;
    std::atomic<bool> draining{false};
    std::atomic<bool> stopped{false};
};

/// One client's connection, on a strand of its own: requests read, served and answered in
/// turn, or an event stream written as events come. `Stream` is the socket itself, or TLS on
/// it.
template <typename Stream>
class Session : public Connection, public std::enable_shared_from_this<Session<Stream>> {
  public:
    Session(HttpServer::Core& core, Stream stream, std::shared_ptr<net::ssl::context> tls = nullptr)
        : m_core(core),
          m_tls(std::move(tls)),
          m_socket(std::move(stream)),
          m_deadline(m_socket.get_executor()),
          m_heartbeat(m_socket.get_executor()) {}
    ~Session() override { m_core.open.Remove(this); }

    void Start() {
        beast::error_code ignored;
        Socket().set_option(tcp::no_delay(true), ignored);
        m_peer = Socket().remote_endpoint(ignored).address().to_string();
        if constexpr (kTls) {
            // The handshake has the headers' deadline: a client that stalls in it is closed.
            Deadline(m_core.limits.headers);
            m_socket.async_handshake(net::ssl::stream_base::server, Then(&Session::OnHandshake));
        } else {
            AwaitRequest();
        }
    }
    /// On the strand: ends the connection now.
    void Shut() override {
        if (m_closed) return;
        m_closed = true;
        beast::error_code ignored;
        Socket().shutdown(tcp::socket::shutdown_both, ignored);
        Socket().close(ignored);
        m_deadline.cancel();
        m_heartbeat.cancel();
        if (m_stream) {
            m_stream->SetWake(nullptr);
            m_stream->Close();
        }
    }
    /// On the strand, when the server stops taking requests: a connection between requests or
    /// holding a stream ends now; one that is being served ends after its reply.
    void EndIfIdle() override {
        if (m_phase == Phase::Waiting || m_phase == Phase::Streaming) Shut();
        m_keepAlive = false;
    }
    void Post(std::function<void()> function) override {
        net::post(m_socket.get_executor(), std::move(function));
    }

  private:
    enum class Phase { Waiting, Reading, Serving, Writing, Streaming };
    static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

    // Every asynchronous step completes through this one handler type, which calls on a member:
    // each Asio and Beast operation then compiles once per stream type rather than once per
    // call, which had made this one of the build's heaviest files.
    using Step = void (Session::*)(beast::error_code, std::size_t);
    struct StepDone {
        std::shared_ptr<Session> self;
        Step step;
        void operator()(beast::error_code ec, std::size_t n = 0) const { ((*self).*step)(ec, n); }
    };
    StepDone Then(Step step) { return {Self(), step}; }

    void OnHandshake(beast::error_code ec, std::size_t) {
        if (ec) return Shut();
        AwaitRequest();
    }

    tcp::socket& Socket() { return beast::get_lowest_layer(m_socket); }
    std::shared_ptr<Session> Self() { return this->shared_from_this(); }

    // The deadline for whatever the connection waits on now; one timer, reset for each wait.
    void Deadline(Timer::time_point at) {
        m_deadline.expires_at(at);
        m_deadline.async_wait(Then(&Session::OnDeadline));
    }
    void OnDeadline(beast::error_code ec, std::size_t) {
        // A wait cancelled by a new deadline, or one that came due as it was being reset.
        if (!ec && m_deadline.expiry() <= Timer::clock_type::now()) Shut();
    }
    void Deadline(std::chrono::milliseconds after) { Deadline(Timer::clock_type::now() + after); }
    void NoDeadline() { m_deadline.expires_at(Timer::time_point::max()); }

    void AwaitRequest() {
        m_phase = Phase::Waiting;
        m_head = false;
        m_parser.emplace();
        m_parser->header_limit(kMostHeaderBytes);
        // Set from the handler once the headers are in. Not boost::none: this Beast (1.74)
        // compares a Content-Length with an unset limit and takes every body as too large.
        m_parser->body_limit(std::numeric_limits<std::uint64_t>::max());
        if (m_buffer.size() > 0 || m_first) return ReadHead();
        // The next request's first bytes, read rather than waited for on the socket: over TLS
        // they may already sit decrypted in the stream, and the socket would never wake.
        Deadline(m_core.limits.idle);
        m_socket.async_read_some(m_buffer.prepare(kReadChunk), Then(&Session::OnFirstBytes));
    }
    void OnFirstBytes(beast::error_code ec, std::size_t n) {
        if (ec) return Shut();
        m_buffer.commit(n);
        ReadHead();
    }

    void ReadHead() {
        m_first = false;
        Deadline(m_core.limits.headers);
        http::async_read_header(m_socket, m_buffer, *m_parser, Then(&Session::OnHead));
    }

    void OnHead(beast::error_code ec, std::size_t) {
        if (m_closed) return;
        if (ec == http::error::header_limit)
            return Refuse(Refusal(431, "the headers are too large"));
        if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
            ec != http::error::end_of_stream) {
            return Refuse(Refusal(400, "the request is not valid HTTP/1.1: " + ec.message()));
        }
        if (ec) return Shut();
        if (!ChunkedOrNone(m_parser->get())) {
            return Refuse(Refusal(400, "Transfer-Encoding takes chunked alone"));
        }
        m_phase = Phase::Reading;
        const auto& message = m_parser->get();
        std::optional<HttpRequest> request = RequestOf(message, m_peer);
        if (!request) return Refuse(Refusal(400, "the request target is not a path"));
        m_request = std::move(*request);
        m_head = m_request.method == "HEAD";
        m_keepAlive = message.keep_alive() && !m_core.draining;

        std::size_t limit = 0;
        if (std::optional<HttpResponse> refusal = m_core.handler.Admit(m_request, limit)) {
            return m_parser->is_done() ? Write(std::move(*refusal)) : Refuse(std::move(*refusal));
        }
        if (m_parser->content_length() && *m_parser->content_length() > limit) {
            return Refuse(TooLarge(limit));
        }
        if (m_parser->is_done()) return Dispatch();
        m_bodyLimit = limit;
        m_parser->body_limit(limit);
        m_bodyStart = Timer::clock_type::now();
        if (beast::iequals(m_request.Header("Expect"), "100-continue")) return Continue();
        ReadBody();
    }

    // A client that asked before sending its body is told to go on.
    void Continue() {
        m_out = "HTTP/1.1 100 Continue\r\n\r\n";
        Deadline(m_core.limits.drain);
        net::async_write(m_socket, net::buffer(m_out), Then(&Session::OnContinued));
    }
    void OnContinued(beast::error_code ec, std::size_t) {
        if (ec) return Shut();
        ReadBody();
    }

    // The body keeps a minimum pace: whatever it holds so far must have come by `headers` plus
    // its size at the pace.
    void ReadBody() {
        const auto received = static_cast<std::int64_t>(m_parser->get().body().size());
        const auto allowed = std::chrono::milliseconds(
            received * 1000 / static_cast<std::int64_t>(m_core.limits.bodyPace));
        Deadline(m_bodyStart + m_core.limits.headers + allowed);
        http::async_read_some(m_socket, m_buffer, *m_parser, Then(&Session::OnBody));
    }

    void OnBody(beast::error_code ec, std::size_t) {
        if (m_closed) return;
        if (ec == http::error::body_limit) return Refuse(TooLarge(m_bodyLimit));
        if (ec) return Shut();
        if (!m_parser->is_done()) return ReadBody();
        m_request.body = std::move(m_parser->get().body());
        Dispatch();
    }

    static HttpResponse TooLarge(std::size_t limit) {
        return Refusal(413, "the body holds at most " + std::to_string(limit / 1024) + " KiB");
    }

    void Dispatch() {
        m_phase = Phase::Serving;
        NoDeadline();
        m_core.handler.Serve(std::move(m_request), [self = Self()](HttpResponse r) {
            self->Post(
                [self, response = std::move(r)]() mutable { self->Write(std::move(response)); });
        });
    }

    // A refusal before the body was read: the connection cannot be used again. What the client
    // still sends is read and dropped for a while, so that closing does not reset the connection
    // under a reply it has not read yet.
    void Refuse(HttpResponse response) {
        m_keepAlive = false;
        m_linger = true;
        Write(std::move(response));
    }

    void Linger() {
        beast::error_code ignored;
        Socket().shutdown(tcp::socket::shutdown_send, ignored);
        Deadline(kLinger);
        Discard();
    }

    void Discard() {
        m_buffer.clear();
        m_socket.async_read_some(m_buffer.prepare(kReadChunk), Then(&Session::OnDiscarded));
    }
    void OnDiscarded(beast::error_code ec, std::size_t) {
        if (ec) return Shut();
        Discard();
    }

    // A reply to HEAD is the GET's head alone: the body's Content-Length, or none for a stream,
    // and never the body, which the client does not read.
    void Write(HttpResponse response) {
        if (m_closed) return;
        const bool unframed = response.stream != nullptr;
        if (unframed && !m_head) return StartStream(std::move(response));
        if (unframed) response.stream->Close();
        m_phase = Phase::Writing;
        m_response = {};
        m_response.version(11);
        m_response.result(static_cast<unsigned>(response.status));
        Headers(m_response, response);
        m_response.keep_alive(m_keepAlive && !m_core.draining);
        m_response.body() = std::move(response.body);
        m_response.prepare_payload();
        if (m_head) m_response.body().clear();
        if (unframed) m_response.erase(http::field::content_length);
        Deadline(m_core.limits.drain);
        http::async_write(m_socket, m_response, Then(&Session::OnWritten));
    }
    void OnWritten(beast::error_code ec, std::size_t) {
        if (!ec && m_linger) return Linger();
        if (ec || !m_response.keep_alive()) return Shut();
        AwaitRequest();
    }

    template <typename Message>
    static void Headers(Message& message, const HttpResponse& response) {
        if (!response.contentType.empty()) {
            message.set(http::field::content_type, response.contentType);
        }
        message.set("X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : response.headers) message.set(name, value);
    }

    // An event stream: the body runs until the connection closes, so it needs no framing. The
    // client sends nothing more, so a read that ends tells that it has gone.
    void StartStream(HttpResponse response) {
        m_phase = Phase::Streaming;
        m_stream = std::move(response.stream);
        http::response<http::empty_body> head{http::status::ok, 11};
        Headers(head, response);
        head.keep_alive(false);
        std::ostringstream text;
        text << head.base();
        m_out = text.str() + response.body;
        m_writing = true;
        Deadline(m_core.limits.drain);
        net::async_write(m_socket, net::buffer(m_out), Then(&Session::Written));
        m_stream->SetWake([weak = this->weak_from_this()] {
            if (auto self = weak.lock()) self->Post([self] { self->Flush(); });
        });
        WatchClose();
        Beat();
    }

    void WatchClose() {
        m_socket.async_read_some(net::buffer(m_discard), Then(&Session::OnClientSent));
    }
    void OnClientSent(beast::error_code ec, std::size_t) {
        if (ec || m_closed) return Shut();
        WatchClose();
    }

    void Beat() {
        m_heartbeat.expires_after(m_core.limits.heartbeat);
        m_heartbeat.async_wait(Then(&Session::OnBeat));
    }
    void OnBeat(beast::error_code ec, std::size_t) {
        if (ec || m_closed) return;
        if (!m_writing) Flush(":\n\n");
        Beat();
    }

    // Writes what the stream holds; a write the client does not drain in time ends it.
    void Flush(std::string text = {}) {
        if (m_closed || m_writing) return;
        std::string piece;
        bool open = true;
        while ((open = m_stream->Next(piece, std::chrono::milliseconds(0))) && !piece.empty()) {
            text += piece;
        }
        if (!open) return Shut();
        if (text.empty()) return;
        m_out = std::move(text);
        m_writing = true;
        Deadline(m_core.limits.drain);
        net::async_write(m_socket, net::buffer(m_out), Then(&Session::Written));
    }

    void Written(beast::error_code ec, std::size_t) {
        m_writing = false;
        if (ec) return Shut();
        NoDeadline();
        Flush();
    }

    HttpServer::Core& m_core;
    std::shared_ptr<net::ssl::context> m_tls;  // outlives the stream made on it
    Stream m_socket;
    Timer m_deadline;
    Timer m_heartbeat;
    beast::flat_buffer m_buffer{kReadChunk};
    std::optional<http::request_parser<http::string_body>> m_parser;
    HttpRequest m_request;
    std::string m_peer;
    http::response<http::string_body> m_response;
    Timer::time_point m_bodyStart{};
    std::size_t m_bodyLimit = 0;
    Phase m_phase = Phase::Waiting;
    bool m_first = true;
    bool m_head = false;  // the request is HEAD: its reply goes without a body
    bool m_keepAlive = false;
    bool m_closed = false;
    bool m_linger = false;
    std::shared_ptr<Subscription> m_stream;
    std::string m_out;  // what an event stream's write holds
    bool m_writing = false;
    std::array<char, 512> m_discard{};  // what a stream's client sends, which is dropped
};

// A connection past the most is closed as soon as it is accepted.
void HttpServer::Core::Accept() {
    AcceptEach(ioc, acceptor, acceptPause, [this](tcp::socket socket) {
        if (open.Size() >= limits.connections) return;
        std::shared_ptr<net::ssl::context> context;
        {
            std::lock_guard<std::mutex> lock(tlsMutex);
            context = tls;
        }
        if (context) {
            TlsStream stream(std::move(socket), *context);
            Begin(std::make_shared<Session<TlsStream>>(*this, std::move(stream), context));
        } else {
            Begin(std::make_shared<Session<tcp::socket>>(*this, std::move(socket)));
        }
    });
}

template <typename Stream>
void HttpServer::Core::Begin(const std::shared_ptr<Session<Stream>>& session) {
    open.Add(session);
    session->Start();
}

boost::asio::io_context& LoopOf(HttpServer::Core& core) { return core.ioc; }

HttpServer::HttpServer(HttpHandler& handler, const ServerLimits& limits)
    : m_core(std::make_unique<Core>(handler, limits)) {}

HttpServer::~HttpServer() { Stop(); }

bool OpenAcceptor(tcp::acceptor& acceptor, const std::string& host, int port, std::string& error,
                  int* refused) {
    beast::error_code ec;
    const net::ip::address address = net::ip::make_address(host, ec);
    if (!ec) acceptor.open(tcp::v4(), ec);
    if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind({address, static_cast<unsigned short>(port)}, ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message();
        if (ec == net::error::access_denied && port < 1024) {
            error += " (a port under 1024 needs CAP_NET_BIND_SERVICE)";
        }
        if (refused && ec.category() == boost::system::system_category()) *refused = ec.value();
        return false;
    }
    return true;
}

bool HttpServer::Listen(const std::string& host, int port, std::string& error, int* refused) {
    return OpenAcceptor(m_core->acceptor, host, port, error, refused);
}

bool HttpServer::UseTls(const std::string& certificate, const std::string& key,
                        CertificateDates& dates, std::string& error) {
    std::optional<net::ssl::context> context = MakeTlsContext(certificate, key, dates, error);
    if (!context) return false;
    auto made = std::make_shared<net::ssl::context>(std::move(*context));
    std::lock_guard<std::mutex> lock(m_core->tlsMutex);
    m_core->tls = std::move(made);
    return true;
}

int HttpServer::Port() const {
    beast::error_code ec;
    return m_core->acceptor.local_endpoint(ec).port();
}

void HttpServer::Start() {
    m_core->Accept();
    for (int i = 0; i < m_core->limits.threads; ++i) {
        m_core->threads.emplace_back([core = m_core.get()] { core->ioc.run(); });
    }
}

void HttpServer::StopAccepting() {
    m_core->draining = true;
    net::post(m_core->acceptor.get_executor(), [core = m_core.get()] {
        beast::error_code ignored;
        core->acceptor.close(ignored);
        core->acceptPause.cancel();
    });
    m_core->open.ForEach([](Connection& connection) { connection.EndIfIdle(); });
}

void HttpServer::Stop() {
    if (m_core->stopped.exchange(true)) return;
    if (m_core->threads.empty()) {
        beast::error_code ignored;
        m_core->acceptor.close(ignored);
        return;
    }
    StopAccepting();
    m_core->open.ForEach([](Connection& connection) { connection.Shut(); });
    m_core->work.reset();
    // Closed connections finish their handlers at once; a second is the most the loop gets.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!m_core->ioc.stopped() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_core->ioc.stop();
    for (std::thread& thread : m_core->threads) {
        if (thread.joinable()) thread.join();
    }
}

}  // namespace vantrel::gateway

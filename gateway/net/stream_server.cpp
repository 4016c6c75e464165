// A plain TCP service on the HTTP server's loop; with http_server.cpp, the only file that
// knows Asio.
#include "gateway/net/stream_server.h"

#include <boost/asio.hpp>

#include <array>
#include <deque>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "gateway/net/network_loop.h"

namespace vantrel::gateway {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

constexpr std::size_t kStreamReadChunk = 16 * 1024;

/// The connections open from each address, taken as one is accepted and given back as it ends.
class AddressCounts {
  public:
    bool Take(std::uint32_t address, std::size_t most) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::size_t& count = m_counts[address];
        if (count >= most) return false;
        ++count;
        return true;
    }
    void Give(std::uint32_t address) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (--m_counts[address] == 0) m_counts.erase(address);
    }

  private:
    std::mutex m_mutex;
    std::unordered_map<std::uint32_t, std::size_t> m_counts;
};

}  // namespace

class StreamConnection;

class StreamServer::Core {
  public:
    Core(net::io_context& ioc, StreamService& service, const Limits& limits)
        : ioc(ioc),
          service(service),
          limits(limits),
          acceptor(net::make_strand(ioc)),
          acceptPause(acceptor.get_executor()) {}

    void Accept(const std::shared_ptr<Core>& self);

    net::io_context& ioc;
    StreamService& service;
    const Limits limits;
    tcp::acceptor acceptor;
    net::steady_timer acceptPause;
    OpenConnections<StreamConnection> open;
    AddressCounts addresses;
};

/// One client's connection, on a strand of its own: what it sends goes to its session as it
/// comes; what is sent to it is written in order, several sends in one write.
class StreamConnection : public StreamClient,
                         public std::enable_shared_from_this<StreamConnection> {
  public:
    /// `address` is one the core's counts have taken for it.
    StreamConnection(std::shared_ptr<StreamServer::Core> core, tcp::socket socket,
                     std::uint32_t address)
        : m_core(std::move(core)),
          m_socket(std::move(socket)),
          m_address(address),
          m_deadline(m_socket.get_executor()),
          m_idle(m_socket.get_executor()) {}
    ~StreamConnection() override {
        m_core->open.Remove(this);
        m_core->addresses.Give(m_address);
    }

    void Start(std::unique_ptr<StreamSession> session) {
        m_session = std::move(session);
        error_code ignored;
        m_socket.set_option(tcp::no_delay(true), ignored);
        m_socket.set_option(net::socket_base::keep_alive(true), ignored);
        m_socket.set_option(net::socket_base::send_buffer_size(m_core->limits.sendBuffer), ignored);
        Read();
    }

    void Send(std::string bytes) override {
        net::post(m_socket.get_executor(),
                  [self = shared_from_this(), b = std::move(bytes)]() mutable {
                      self->Queue(std::move(b));
                  });
    }

    void Close() override {
        net::post(m_socket.get_executor(), [self = shared_from_this()] {
            self->m_closeWhenWritten = true;
            self->WriteNext();
        });
    }

    /// On the strand: ends the connection now.
    void Shut() {
        if (m_closed) return;
        m_closed = true;
        error_code ignored;
        m_socket.shutdown(tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
        m_deadline.cancel();
        m_idle.cancel();
        m_session.reset();
    }

    template <typename Function>
    void Post(Function function) {
        net::post(m_socket.get_executor(), std::move(function));
    }

  private:
    // Only while a read waits is the client's silence counted: a paused one is waited for by
    // the drain deadline instead.
    void Read() {
        m_idle.expires_after(m_core->limits.idle);
        m_idle.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec) self->Shut();
        });
        m_socket.async_read_some(net::buffer(m_in),
                                 [self = shared_from_this()](error_code ec, std::size_t n) {
                                     self->m_idle.cancel();
                                     if (ec || self->m_closed) return self->Shut();
                                     self->After(self->m_session->Received(self->m_in.data(), n));
                                 });
    }

    // Posted, so that what the session sent meanwhile is queued, and counted, first.
    void After(SessionNext next) {
        if (next == SessionNext::kClose) return Shut();
        Post([self = shared_from_this(), next] { self->Proceed(next); });
    }

    void Proceed(SessionNext next) {
        if (m_closed) return;
        if (m_pending > m_core->limits.pauseAbove) {
            m_paused = next;
            return;
        }
        if (next == SessionNext::kContinue) return After(m_session->Continue());
        Read();
    }

    void Queue(std::string bytes) {
        if (m_closed) return;
        m_pending += bytes.size();
        if (m_pending > m_core->limits.mostPending) return Shut();
        m_queue.push_back(std::move(bytes));
        WriteNext();
    }

    void WriteNext() {
        if (m_closed || m_writing) return;
        if (m_queue.empty()) {
            if (m_closeWhenWritten) Shut();
            return;
        }
        m_out.clear();
        for (std::string& piece : m_queue) m_out += piece;
        m_queue.clear();
        m_writing = true;
        m_deadline.expires_after(m_core->limits.drain);
        m_deadline.async_wait([self = shared_from_this()](error_code ec) {
            if (!ec && self->m_writing) self->Shut();
        });
        net::async_write(m_socket, net::buffer(m_out),
                         [self = shared_from_this()](error_code ec, std::size_t n) {
                             self->m_writing = false;
                             self->m_pending -= n;
                             self->m_deadline.cancel();
                             if (ec) return self->Shut();
                             self->WriteNext();
                             self->Unpause();
                         });
    }

    void Unpause() {
        if (!m_paused || m_pending > m_core->limits.pauseAbove) return;
        const SessionNext next = *m_paused;
        m_paused.reset();
        Proceed(next);
    }

    std::shared_ptr<StreamServer::Core> m_core;
    tcp::socket m_socket;
    const std::uint32_t m_address;
    net::steady_timer m_deadline;
    net::steady_timer m_idle;
    std::unique_ptr<StreamSession> m_session;
    std::array<std::uint8_t, kStreamReadChunk> m_in{};
    std::deque<std::string> m_queue;
    std::string m_out;
    std::size_t m_pending = 0;
    bool m_writing = false;
    bool m_closed = false;
    bool m_closeWhenWritten = false;
    std::optional<SessionNext> m_paused;  // what waits for the client to read
};

// A client that is not IPv4, one past the most, or past the most from its address, and one the
// service turns away are closed as soon as they are accepted.
void StreamServer::Core::Accept(const std::shared_ptr<Core>& self) {
    AcceptEach(ioc, acceptor, acceptPause, [self](tcp::socket socket) {
        error_code addressError;
        const tcp::endpoint peer = socket.remote_endpoint(addressError);
        if (addressError || !peer.address().is_v4() ||
            self->open.Size() >= self->limits.mostConnections) {
            return;
        }
        const std::uint32_t address = peer.address().to_v4().to_uint();
        if (!self->addresses.Take(address, self->limits.perAddress)) return;
        auto connection = std::make_shared<StreamConnection>(self, std::move(socket), address);
        std::unique_ptr<StreamSession> session = self->service.Open(address, connection);
        if (!session) return;
        self->open.Add(connection);
        connection->Post(
            [connection, s = std::move(session)]() mutable { connection->Start(std::move(s)); });
    });
}

StreamServer::StreamServer(HttpServer& loop, StreamService& service, const Limits& limits)
    : m_core(std::make_shared<Core>(LoopOf(loop.GetCore()), service, limits)) {}

StreamServer::~StreamServer() { Stop(); }

bool StreamServer::Listen(const std::string& host, int port, std::string& error, int* refused) {
    return OpenAcceptor(m_core->acceptor, host, port, error, refused);
}

int StreamServer::Port() const {
    error_code ec;
    return m_core->acceptor.local_endpoint(ec).port();
}

void StreamServer::Start() { m_core->Accept(m_core); }

void StreamServer::StopAccepting() {
    net::post(m_core->acceptor.get_executor(), [core = m_core] {
        error_code ignored;
        core->acceptor.close(ignored);
        core->acceptPause.cancel();
    });
}

void StreamServer::Stop() {
    StopAccepting();
    m_core->open.ForEach([](StreamConnection& connection) { connection.Shut(); });
}

}  // namespace vantrel::gateway

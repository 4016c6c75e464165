// The abuse benchmark's clients against scripted loopback servers. The measuring client counts
// every answer once, follows the server's Connection: close and names each failure for what it
// was, so that the benchmark's error count is the gateway's and nobody else's. The abusers come
// back whenever they are closed, and a trickler keeps to its byte a second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/abuse_crowd.h"
#include "bench/http_wire.h"
#include "bench/load_client.h"

namespace vantrel {
namespace bench_clients_test {
namespace {

using namespace std::chrono_literals;
using bench::Fd;

// A socket bound to a free port of 127.0.0.1; listening when asked.
Fd BoundSocket(int& port, bool listening) {
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(bench::kGatewayAddress);
    socklen_t size = sizeof address;
    bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), size);
    if (listening) listen(fd.Get(), 64);
    getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

// Serves each connection on a thread of its own as `serve` says.
class ScriptedServer {
  public:
    explicit ScriptedServer(std::function<void(int)> serve) : m_serve(std::move(serve)) {
        m_listen = BoundSocket(m_port, true);
        m_accepting = std::thread([this] {
            for (int fd; (fd = accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                m_connections.emplace_back([this, fd] {
                    const Fd owned(fd);
                    m_serve(owned.Get());
                });
            }
        });
    }
    ~ScriptedServer() {
        shutdown(m_listen.Get(), SHUT_RDWR);
        m_accepting.join();
        for (std::thread& connection : m_connections) connection.join();
    }
    int Port() const { return m_port; }

  private:
    std::function<void(int)> m_serve;
    Fd m_listen;
    int m_port = 0;
    std::vector<std::thread> m_connections;
    std::thread m_accepting;
};

// Reads a request's head; false once the client has closed.
bool ReadRequest(int fd) {
    std::string head;
    for (char c; head.find("\r\n\r\n") == std::string::npos; head += c) {
        if (recv(fd, &c, 1, 0) != 1) return false;
    }
    return true;
}

bench::LoadPlan Plan(int port, int requests, std::chrono::milliseconds timeout) {
    bench::LoadPlan plan;
    plan.port = port;
    plan.paths = {"/a", "/b"};
    plan.requests = requests;
    plan.concurrency = 2;
    plan.timeout = timeout;
    plan.deadline = std::chrono::steady_clock::now() + 10s;
    return plan;
}

TEST(BenchLoadClientTest, CountsEveryAnswerAndFollowsTheServersClose) {
    ScriptedServer server([](int fd) {
        for (int n = 1; ReadRequest(fd); ++n) {
            const std::string close = n % 3 == 0 ? "Connection: close\r\n" : "";
            const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n" + close + "\r\nok";
            send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            if (!close.empty()) return;
        }
    });
    const bench::LoadFigures figures = bench::LoadClient(Plan(server.Port(), 20, 5s)).Run();
    EXPECT_EQ(figures.Errors(), 0);
    EXPECT_EQ(figures.latencyMs.size(), 20u);
}

TEST(BenchLoadClientTest, NamesEachFailure) {
    ScriptedServer hangsUp([](int fd) { ReadRequest(fd); });
    EXPECT_EQ(bench::LoadClient(Plan(hangsUp.Port(), 3, 5s)).Run().cut, 3);

    ScriptedServer silent([](int fd) { ReadRequest(fd) && ReadRequest(fd); });
    EXPECT_EQ(bench::LoadClient(Plan(silent.Port(), 2, 100ms)).Run().timedOut, 2);

    ScriptedServer notHttp([](int fd) {
        if (ReadRequest(fd)) send(fd, "SSH-2.0-x\r\n", 11, MSG_NOSIGNAL);
    });
    EXPECT_EQ(bench::LoadClient(Plan(notHttp.Port(), 2, 5s)).Run().badReply, 2);

    int port = 0;
    const Fd notListening = BoundSocket(port, false);
    EXPECT_EQ(bench::LoadClient(Plan(port, 2, 5s)).Run().refused, 2);

    bench::LoadPlan late = Plan(port, 4, 5s);
    late.deadline = std::chrono::steady_clock::now();
    const bench::LoadFigures none = bench::LoadClient(late).Run();
    EXPECT_EQ(none.notSent, 4);
    EXPECT_EQ(none.Errors(), 4);
}

TEST(BenchAbuseCrowdTest, ClientsComeBackWhenClosedAndTricklersKeepTheirPace) {
    std::atomic<int> trickled{0};
    ScriptedServer closesAtOnce([](int fd) { ReadRequest(fd); });
    ScriptedServer keepsOpen([&trickled](int fd) {
        for (char c; recv(fd, &c, 1, 0) == 1;) ++trickled;
    });
    bench::AbuseCrowd idle({closesAtOnce.Port(), 3, 0, 0, 50ms, 0ms});
    bench::AbuseCrowd trickling({keepsOpen.Port(), 0, 2, 0, 50ms, 0ms});
    std::this_thread::sleep_for(1500ms);
    idle.Stop();
    trickling.Stop();
    const auto& again = idle.Figures()[static_cast<size_t>(bench::AbuserKind::kIdle)];
    EXPECT_GE(again.connections, 12);  // about 20 each: a close costs a client only its pause
    EXPECT_GE(again.closed, again.connections - 3);
    // A byte each at 0 s and 1 s; a trickler that sent its whole request would pass 40.
    EXPECT_GE(trickled.load(), 2);
    EXPECT_LE(trickled.load(), 6);
}

}  // namespace
}  // namespace bench_clients_test
}  // namespace vantrel

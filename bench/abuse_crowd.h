#pragma once
// The abusive clients of the gateway's abuse benchmark, on one thread and one epoll loop:
// clients that hold a keep-alive connection idle after one request, clients that trickle a
// request's bytes one a second, and open event streams read as they come. Each makes a new
// connection whenever the gateway closes (or refuses) its own.
#include <sys/epoll.h>

#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/http_wire.h"

namespace vantrel::bench {

enum class AbuserKind { kIdle, kTrickle, kStream };

struct CrowdPlan {
    int port = 0;
    int idle = 0, trickle = 0, streams = 0;
    // Before a closed client connects again: what the gateway's closing costs the clients,
    // so that they do not spin on a gateway that refuses them.
    std::chrono::milliseconds reconnectPause{200};
    // The first connects of each kind, spread evenly over this: the gateway's closes (after its
    // deadlines) and the clients' returns then come steadily, not in waves.
    std::chrono::milliseconds spread{5000};
};

struct CrowdFigures {
    int clients = 0;
    long connections = 0;    // made
    long closed = 0;         // ended by the gateway (or refused)
    long answered200 = 0;    // connections whose first response was 200
    long answeredOther = 0;  // ... some other status
};

class AbuseCrowd {
  public:
    explicit AbuseCrowd(const CrowdPlan& plan) : m_plan(plan) {
        Add(AbuserKind::kIdle, plan.idle, "/api/units");
        Add(AbuserKind::kTrickle, plan.trickle, "/api/units");
        Add(AbuserKind::kStream, plan.streams, "/api/events");
        m_epoll = Fd(epoll_create1(EPOLL_CLOEXEC));
        m_thread = std::thread([this] { Run(); });
    }
    ~AbuseCrowd() { Stop(); }
    AbuseCrowd(const AbuseCrowd&) = delete;
    AbuseCrowd& operator=(const AbuseCrowd&) = delete;

    /// Ends the clients and closes their connections; the figures hold still from then on.
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        m_abusers.clear();
    }
    /// Indexed by AbuserKind.
    const std::array<CrowdFigures, 3>& Figures() const { return m_figures; }

  private:
    using Clock = std::chrono::steady_clock;
    enum class State { kWaiting, kConnecting, kOpen };
    struct Abuser {
        AbuserKind kind = AbuserKind::kIdle;
        State state = State::kWaiting;
        Fd fd;
        size_t sent = 0;        // of the request, in this connection
        bool heard = false;     // the first response's status has been counted
        Clock::time_point due;  // of the next connect, or of the next trickled byte
    };

    void Add(AbuserKind kind, int count, const std::string& path) {
        m_requests[static_cast<size_t>(kind)] = GetRequest(path, m_plan.port, true);
        m_figures[static_cast<size_t>(kind)].clients = count;
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i) {
            m_abusers.emplace_back();
            m_abusers.back().kind = kind;
            m_abusers.back().due = start + m_plan.spread * i / count;
        }
    }

    void Run() {
        while (!m_stop) {
            epoll_event events[256];
            const int count = epoll_wait(m_epoll.Get(), events, 256, 20);
            for (int i = 0; i < count; ++i) OnReady(m_abusers[events[i].data.u32]);
            Tick();
        }
    }

    // Connects the clients whose pause is over and trickles the bytes that are due.
    void Tick() {
        const auto now = Clock::now();
        for (Abuser& abuser : m_abusers) {
            if (now < abuser.due) continue;
            if (abuser.state == State::kWaiting) Connect(abuser);
            if (abuser.state == State::kOpen && abuser.kind == AbuserKind::kTrickle) {
                SendByte(abuser);
                abuser.due = now + std::chrono::seconds(1);
            }
        }
    }

    void Connect(Abuser& abuser) {
        int error = 0;
        abuser.fd = ConnectLoopback(m_plan.port, error);
        if (!abuser.fd.Open()) return Drop(abuser);
        abuser.state = State::kConnecting;
        abuser.sent = 0;
        abuser.heard = false;
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT;
        event.data.u32 = static_cast<uint32_t>(&abuser - m_abusers.data());
        epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, abuser.fd.Get(), &event);
    }

    void OnReady(Abuser& abuser) {
        if (abuser.state == State::kConnecting) return Opened(abuser);
        char buffer[65536];
        const ssize_t n = recv(abuser.fd.Get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) return Drop(abuser);
        if (!abuser.heard) Heard(abuser, std::string(buffer, static_cast<size_t>(n)));
    }

    void Opened(Abuser& abuser) {
        if (ConnectError(abuser.fd.Get()) != 0) return Drop(abuser);
        abuser.state = State::kOpen;
        ++Count(abuser).connections;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = static_cast<uint32_t>(&abuser - m_abusers.data());
        epoll_ctl(m_epoll.Get(), EPOLL_CTL_MOD, abuser.fd.Get(), &event);
        if (abuser.kind == AbuserKind::kTrickle) {
            abuser.due = Clock::now();  // its first byte at the next tick
            return;
        }
        const std::string& request = Request(abuser);
        send(abuser.fd.Get(), request.data(), request.size(), MSG_NOSIGNAL);
    }

    // The request's next byte, round and round: a trickler never finishes, whatever it is
    // answered.
    void SendByte(Abuser& abuser) {
        const std::string& request = Request(abuser);
        send(abuser.fd.Get(), &request[abuser.sent % request.size()], 1, MSG_NOSIGNAL);
        ++abuser.sent;
    }

    void Heard(Abuser& abuser, const std::string& bytes) {
        abuser.heard = true;
        ++(StatusOf(bytes) == 200 ? Count(abuser).answered200 : Count(abuser).answeredOther);
    }

    // The connection ended or could not be made: the client tries again after a pause.
    void Drop(Abuser& abuser) {
        if (abuser.fd.Open()) ++Count(abuser).closed;
        abuser.fd.Reset();
        abuser.state = State::kWaiting;
        abuser.due = Clock::now() + m_plan.reconnectPause;
    }

    const std::string& Request(const Abuser& abuser) const {
        return m_requests[static_cast<size_t>(abuser.kind)];
    }
    CrowdFigures& Count(const Abuser& abuser) {
        return m_figures[static_cast<size_t>(abuser.kind)];
    }

    const CrowdPlan m_plan;
    std::array<std::string, 3> m_requests;
    std::array<CrowdFigures, 3> m_figures{};
    std::vector<Abuser> m_abusers;
    Fd m_epoll;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;  // last: it starts once everything it uses is made
};

}  // namespace vantrel::bench

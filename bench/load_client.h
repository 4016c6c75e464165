#pragma once
// The measuring client of the gateway's abuse benchmark: a fixed number of GETs at a fixed
// concurrency, on one epoll loop, each timed from its start (its connect, when it needs a new
// connection) to the end of its response.
#include <sys/epoll.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "bench/http_wire.h"

namespace vantrel::bench {

struct LoadPlan {
    int port = 0;
    std::vector<std::string> paths;  // request i asks for paths[i % paths.size()]
    int requests = 0;
    int concurrency = 1;
    bool keepAlive = true;  // false: each request on a connection of its own, Connection: close
    std::chrono::milliseconds timeout{5000};         // for each request
    std::chrono::steady_clock::time_point deadline;  // no request begins after it
};

struct LoadFigures {
    std::vector<double> latencyMs;  // of the requests answered 200, in ascending order
    int refused = 0;                // the connect was refused
    int reset = 0;                  // the connection was reset
    int timedOut = 0;               // no whole response within the timeout
    int cut = 0;                    // closed, or failed otherwise, before a whole response
    int badReply = 0;               // a status other than 200, or a reply that is not HTTP
    int notSent = 0;                // not begun before the deadline

    int Errors() const { return refused + reset + timedOut + cut + badReply + notSent; }
    /// The latency below which `share` of the answered requests fall; 0 when none was.
    double Percentile(double share) const {
        if (latencyMs.empty()) return 0;
        const size_t at = static_cast<size_t>(static_cast<double>(latencyMs.size()) * share);
        return latencyMs[std::min(at, latencyMs.size() - 1)];
    }
    double Max() const { return latencyMs.empty() ? 0 : latencyMs.back(); }
};

class LoadClient {
  public:
    explicit LoadClient(LoadPlan plan) : m_plan(std::move(plan)), m_slots(m_plan.concurrency) {}

    LoadFigures Run() {
        m_epoll = Fd(epoll_create1(EPOLL_CLOEXEC));
        for (;;) {
            Refill();
            if (std::none_of(m_slots.begin(), m_slots.end(), [](const Slot& s) { return s.busy; }))
                break;
            epoll_event events[64];
            const int count = epoll_wait(m_epoll.Get(), events, 64, 10);
            for (int i = 0; i < count; ++i) OnReady(m_slots[events[i].data.u32], events[i].events);
            ExpireLate();
        }
        m_figures.notSent = m_plan.requests - m_next;
        std::sort(m_figures.latencyMs.begin(), m_figures.latencyMs.end());
        return m_figures;
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct Slot {
        Fd fd;
        bool busy = false;
        bool connecting = false;
        std::string request;
        size_t sent = 0;
        ResponseReader reader;
        Clock::time_point begun;
    };

    // Starts requests on the idle slots while any are left to make.
    void Refill() {
        for (size_t i = 0; i < m_slots.size(); ++i) {
            while (!m_slots[i].busy && m_next < m_plan.requests && Clock::now() < m_plan.deadline) {
                Begin(m_slots[i], static_cast<uint32_t>(i));
            }
        }
    }

    void Begin(Slot& slot, uint32_t index) {
        const std::string& path = m_plan.paths[static_cast<size_t>(m_next) % m_plan.paths.size()];
        ++m_next;
        slot.request = GetRequest(path, m_plan.port, m_plan.keepAlive);
        slot.sent = 0;
        slot.reader.Reset();
        slot.begun = Clock::now();
        slot.busy = true;
        if (slot.fd.Open()) return Watch(slot, index, EPOLL_CTL_MOD);
        int error = 0;
        slot.fd = ConnectLoopback(m_plan.port, error);
        if (!slot.fd.Open()) return Fail(slot, error);
        slot.connecting = true;
        Watch(slot, index, EPOLL_CTL_ADD);
    }

    void Watch(Slot& slot, uint32_t index, int operation) {
        epoll_event event{};
        event.events = EPOLLIN | (slot.sent < slot.request.size() ? EPOLLOUT : 0u);
        event.data.u32 = index;
        epoll_ctl(m_epoll.Get(), operation, slot.fd.Get(), &event);
    }

    void OnReady(Slot& slot, uint32_t events) {
        if (!slot.busy) return;
        if (slot.connecting) {
            if (const int error = ConnectError(slot.fd.Get())) return Fail(slot, error);
            slot.connecting = false;
        }
        if (slot.sent < slot.request.size() && (events & EPOLLOUT)) Send(slot);
        if (slot.busy && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) Receive(slot);
    }

    void Send(Slot& slot) {
        const ssize_t n = send(slot.fd.Get(), slot.request.data() + slot.sent,
                               slot.request.size() - slot.sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN) return Fail(slot, errno);
        if (n > 0) slot.sent += static_cast<size_t>(n);
        if (slot.sent == slot.request.size()) {
            Watch(slot, static_cast<uint32_t>(&slot - m_slots.data()), EPOLL_CTL_MOD);
        }
    }

    void Receive(Slot& slot) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = recv(slot.fd.Get(), buffer, sizeof buffer, 0);
            if (n < 0 && errno == EAGAIN) return;
            if (n < 0) return Fail(slot, errno);
            if (n == 0) return slot.reader.Close() ? Finish(slot) : Fail(slot, 0);
            if (slot.reader.Feed(buffer, static_cast<size_t>(n))) return Finish(slot);
            if (slot.reader.Bad()) return Finish(slot);
        }
    }

    void Finish(Slot& slot) {
        if (slot.reader.Done() && slot.reader.Status() == 200) {
            m_figures.latencyMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - slot.begun).count());
        } else {
            ++m_figures.badReply;
        }
        if (!m_plan.keepAlive || !slot.reader.KeepAlive() || !slot.reader.Done()) slot.fd.Reset();
        slot.busy = false;
    }

    // Counts the failure by its reason (0: closed before a whole response) and drops the
    // connection; the slot's next request makes a new one.
    void Fail(Slot& slot, int error) {
        if (error == ECONNREFUSED) {
            ++m_figures.refused;
        } else if (error == ECONNRESET || error == EPIPE) {
            ++m_figures.reset;
        } else if (error == ETIMEDOUT) {
            ++m_figures.timedOut;
        } else {
            ++m_figures.cut;
        }
        slot.fd.Reset();
        slot.connecting = false;
        slot.busy = false;
    }

    void ExpireLate() {
        const auto now = Clock::now();
        for (Slot& slot : m_slots) {
            if (slot.busy && now - slot.begun > m_plan.timeout) Fail(slot, ETIMEDOUT);
        }
    }

    LoadPlan m_plan;
    std::vector<Slot> m_slots;
    Fd m_epoll;
    int m_next = 0;
    LoadFigures m_figures;
};

}  // namespace vantrel::bench

#include "gateway/cluster/lease.h"

#include <algorithm>

namespace vantrel::gateway::cluster {

Lease::Lease(LeaseService& etcd, WaitableClock& clock, const Timing& timing)
    : m_etcd(etcd), m_clock(clock), m_timing(timing) {}

Lease::~Lease() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_renewer.joinable()) m_renewer.join();
    // A revocation that fails leaves the lease to expire by itself.
    if (m_id != 0) m_etcd.Revoke(m_id);
}

std::optional<EtcdError> Lease::Start() {
    const Clock::TimePoint sent = m_clock.Now();
    const auto granted = m_etcd.Grant(m_timing.ttl);
    if (!granted.Ok()) return granted.GetError();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_id = granted.Value().id;
        m_ttl = granted.Value().ttl;
        m_lastSent = sent;
        m_deadline = sent + m_ttl - m_timing.margin;
    }
    m_renewer = std::thread([this] { Renew(); });
    return std::nullopt;
}

LeaseId Lease::Id() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_id;
}

bool Lease::Held(Clock::TimePoint now) const { return now < Deadline(); }

Clock::TimePoint Lease::Deadline() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deadline;
}

void Lease::Renew() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto period = std::chrono::duration_cast<Clock::Duration>(m_ttl) / 3;
    while (!m_clock.WaitUntil(m_wake, lock, m_lastSent + period, [this] { return m_stopping; })) {
        const Clock::TimePoint sent = m_clock.Now();
        m_lastSent = sent;
        lock.unlock();
        const auto renewed = m_etcd.KeepAlive(m_id);
        lock.lock();
        if (renewed.Ok()) {
            m_deadline = std::max(m_deadline, sent + renewed.Value() - m_timing.margin);
        } else if (renewed.GetError().fault == EtcdFault::kNoLease) {
            // Gone in etcd, so held no longer; renewing it again cannot bring it back.
            m_deadline = Clock::TimePoint::min();
            return;
        }
    }
}

}  // namespace vantrel::gateway::cluster

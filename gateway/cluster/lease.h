#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "gateway/cluster/etcd_client.h"
#include "gateway/system/waitable_clock.h"

namespace vantrel::gateway::cluster {

/// A lease in etcd, renewed at a third of its time to live, and this process's own view of how
/// long it is surely held: until the last renewal whose answer came back was SENT, plus the time
/// to live, less a margin for the clocks' drift. etcd counts the time to live from when it took
/// the renewal, which is after it was sent, so the lease cannot have expired there before this
/// deadline; a process paused between a renewal and its answer, or cut off from etcd, sees the
/// deadline pass and stops touching what the lease guards.
class Lease {
  public:
    struct Timing {
        std::chrono::seconds ttl{5};
        Clock::Duration margin{1000};
    };

    /// `etcd` and `clock` outlive the lease.
    Lease(LeaseService& etcd, WaitableClock& clock, const Timing& timing);
    /// Stops renewing, and revokes the lease so that its keys go at once.
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    /// Grants the lease and starts renewing it; once.
    std::optional<EtcdError> Start();

    LeaseId Id() const;
    /// Whether the lease is surely still held at `now`: whether what it guards may be touched.
    bool Held(Clock::TimePoint now) const;
    /// When it stops being held unless a renewal comes back.
    Clock::TimePoint Deadline() const;

  private:
    void Renew();

    LeaseService& m_etcd;
    WaitableClock& m_clock;
    const Timing m_timing;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    LeaseId m_id = 0;
    std::chrono::seconds m_ttl{0};  // as etcd granted it
    Clock::TimePoint m_lastSent{};
    Clock::TimePoint m_deadline{};
    bool m_stopping = false;
    std::thread m_renewer;
};

}  // namespace vantrel::gateway::cluster

#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "gateway/system/waitable_clock.h"

namespace vantrel::testing {

/// A clock whose time moves only when the test advances it; a thread waiting on it for a time
/// wakes when the time is advanced past it, so that periods and limits of seconds pass at once
/// and in the order the test chooses.
class ManualClock : public gateway::WaitableClock {
  public:
    /// A pause moves the time on, as the pause would.
    void Sleep(Duration pause) override { Advance(pause); }
    TimePoint Now() override { return TimePoint(TimePoint::duration(m_now.load())); }

    bool WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& ready) override {
        Waiter waiter{&wake, lock.mutex()};
        {
            std::lock_guard<std::mutex> guard(m_waitersMutex);
            m_waiters.push_back(&waiter);
        }
        while (!ready() && Now() < deadline) wake.wait(lock);
        // Advance holds m_advancing while it wakes waiters under their own mutex: this one's
        // is let go first, and the waiter is gone from the list before it goes out of scope.
        lock.unlock();
        {
            std::lock_guard<std::mutex> advancing(m_advancing);
            std::lock_guard<std::mutex> guard(m_waitersMutex);
            m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), &waiter));
        }
        lock.lock();
        return ready();
    }

    /// Moves the time on and wakes every thread waiting on the clock.
    void Advance(Duration by) {
        std::lock_guard<std::mutex> advancing(m_advancing);
        std::vector<Waiter*> waiters;
        {
            std::lock_guard<std::mutex> guard(m_waitersMutex);
            m_now += std::chrono::duration_cast<TimePoint::duration>(by).count();
            waiters = m_waiters;
        }
        // Under the waiter's mutex: it has either not yet read the time, or waits already.
        for (Waiter* waiter : waiters) {
            std::lock_guard<std::mutex> held(*waiter->mutex);
            waiter->wake->notify_all();
        }
    }

    /// How many threads wait on the clock now.
    std::size_t Waiting() {
        std::lock_guard<std::mutex> guard(m_waitersMutex);
        return m_waiters.size();
    }

  private:
    struct Waiter {
        std::condition_variable* wake;
        std::mutex* mutex;
    };

    std::atomic<TimePoint::rep> m_now{0};
    std::mutex m_advancing;
    std::mutex m_waitersMutex;
    std::vector<Waiter*> m_waiters;
};

}  // namespace vantrel::testing

#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace vantrel {

/// Every fixed pause and time-out of the protocols goes through a Clock, so tests can
/// replace it with one that records each pause and returns at once.
class Clock {
  public:
    using Duration = std::chrono::milliseconds;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual void Sleep(Duration pause) = 0;
    virtual TimePoint Now() = 0;
    /// Waits on `wake`, whose mutex `lock` holds, until `ready` holds or this clock reaches
    /// `deadline`; returns `ready()`. Whoever changes what `ready` reads notifies `wake`. This
    /// waits on the steady clock: a clock that keeps a time of its own overrides it.
    virtual bool WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                           TimePoint deadline, const std::function<bool()>& ready);
};

/// The real clock: sleeps the calling thread.
class SystemClock : public Clock {
  public:
    void Sleep(Duration pause) override;
    TimePoint Now() override;

    /// One shared instance for production code.
    static SystemClock& Instance();
};

}  // namespace vantrel

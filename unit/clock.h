#pragma once

#include <chrono>

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

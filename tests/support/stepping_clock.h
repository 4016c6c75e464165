#pragma once

#include <mutex>

#include "unit/clock.h"

namespace vantrel::testing {

/// A clock whose time moves on by a fixed step each time it is read, so that a time limit
/// measured with it runs out after a few reads instead of seconds. Sleeps return at once.
class SteppingClock : public Clock {
  public:
    explicit SteppingClock(Duration step) : m_step(step) {}
    void Sleep(Duration) override {}
    TimePoint Now() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_now += m_step;
        return m_now;
    }

  private:
    std::mutex m_mutex;
    const Duration m_step;
    TimePoint m_now{};
};

}  // namespace vantrel::testing

#include "unit/clock.h"

#include <thread>

namespace vantrel {

bool Clock::WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                      TimePoint deadline, const std::function<bool()>& ready) {
    return wake.wait_until(lock, deadline, ready);
}

void SystemClock::Sleep(Duration pause) { std::this_thread::sleep_for(pause); }

Clock::TimePoint SystemClock::Now() { return std::chrono::steady_clock::now(); }

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace vantrel

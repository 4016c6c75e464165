#include "unit/clock.h"

#include <thread>

namespace vantrel {

void SystemClock::Sleep(Duration pause) { std::this_thread::sleep_for(pause); }

Clock::TimePoint SystemClock::Now() { return std::chrono::steady_clock::now(); }

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

}  // namespace vantrel

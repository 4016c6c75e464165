#include "gateway/system/waitable_clock.h"

namespace vantrel::gateway {
namespace {

class SystemWaitableClock : public WaitableClock {
  public:
    void Sleep(Duration pause) override { SystemClock::Instance().Sleep(pause); }
    TimePoint Now() override { return SystemClock::Instance().Now(); }
    bool WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline, const std::function<bool()>& ready) override {
        return wake.wait_until(lock, deadline, ready);
    }
};

}  // namespace

WaitableClock& WaitableClock::System() {
    static SystemWaitableClock clock;
    return clock;
}

}  // namespace vantrel::gateway

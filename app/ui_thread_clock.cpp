#include "app/ui_thread_clock.h"

#include "app/sent_message_wait.h"

namespace vantrel {

void UiThreadClock::Sleep(Duration pause) {
    WaitDeliveringSentMessages(pause.count() > 0 ? static_cast<DWORD>(pause.count()) : 0);
}

Clock::TimePoint UiThreadClock::Now() { return std::chrono::steady_clock::now(); }

}  // namespace vantrel

#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "unit/clock.h"

namespace vantrel::gateway {

/// A clock the gateway's threads also wait on: the monitors' polls and pauses, the watch's
/// period, a job's wait for a power cycle. In service it is the system's; a test moves one by
/// hand, so that its periods and limits pass at once.
class WaitableClock : public Clock {
  public:
    /// Waits on `wake`, whose mutex `lock` holds, until `ready` holds or this clock reaches
    /// `deadline`; returns `ready()`. Whoever changes what `ready` reads notifies `wake`.
    virtual bool WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                           TimePoint deadline, const std::function<bool()>& ready) = 0;

    /// The system's steady clock.
    static WaitableClock& System();
};

}  // namespace vantrel::gateway

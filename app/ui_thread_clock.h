#pragma once

#include "link/clock.h"

namespace vantrel {

/// The clock for code that runs on the UI thread: its pauses keep delivering the messages
/// that other threads send to the panel's windows (see WaitDeliveringSentMessages), so a
/// handler waiting on the network session never blocks the session's control updates.
class UiThreadClock : public Clock {
  public:
    void Sleep(Duration pause) override;
    TimePoint Now() override;
};

}  // namespace vantrel

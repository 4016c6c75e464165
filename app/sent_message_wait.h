#pragma once

#include <windows.h>

namespace vantrel {

/// Waits on the UI thread for up to ms milliseconds (or until event, when given, is
/// signalled), delivering meanwhile only the messages that other threads send to this
/// thread's windows. A worker's SendMessage-based control updates thus get through, while
/// posted messages and input (clicks, keys, timers) stay queued for the message loop: a
/// general pump here would run a second click inside the first.
/// Returns true when event was signalled, false when the time ran out.
bool WaitDeliveringSentMessages(DWORD ms, HANDLE event = nullptr);

}  // namespace vantrel

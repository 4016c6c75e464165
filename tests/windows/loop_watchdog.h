#pragma once

#include <windows.h>

#include <thread>

#include "app/handles.h"

namespace vantrel::testing {

/// Ends the calling thread's message loop with WM_QUIT (code kWatchdogCode) if the test has
/// not finished within the time limit, so a faulty loop fails the test instead of hanging.
class LoopWatchdog {
  public:
    static constexpr int kWatchdogCode = -99;

    explicit LoopWatchdog(DWORD ms = 5000)
        : m_hDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          m_thread([this, ms, thread = GetCurrentThreadId()] {
              if (WaitForSingleObject(m_hDone.Get(), ms) == WAIT_TIMEOUT) {
                  PostThreadMessageA(thread, WM_QUIT, static_cast<WPARAM>(kWatchdogCode), 0);
              }
          }) {}
    LoopWatchdog(const LoopWatchdog&) = delete;
    LoopWatchdog& operator=(const LoopWatchdog&) = delete;
    ~LoopWatchdog() {
        SetEvent(m_hDone.Get());
        m_thread.join();
        // A quit the watchdog posted but no loop took must not end the next test's loop.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }

  private:
    UniqueHandle m_hDone;
    std::thread m_thread;
};

}  // namespace vantrel::testing

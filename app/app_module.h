#pragma once

#include <windows.h>

#include <map>

#include "app/message_loop.h"

namespace vantrel {

/// The application module: the program's instance handle, the main thread, and the
/// message loop of each thread that runs one.
class CAppModule {
  public:
    CAppModule();
    CAppModule(const CAppModule&) = delete;
    CAppModule& operator=(const CAppModule&) = delete;
    ~CAppModule();

    /// Records the instance and the calling thread as the main thread; empties the table.
    void Init(HINSTANCE instance);
    /// Forgets every loop; the module can be initialised again afterwards.
    void Term();

    HINSTANCE GetInstance() const { return m_hInstance; }
    DWORD GetMainThreadId() const { return m_nMainThreadId; }

    /// Enters the loop for the calling thread; false when that thread already has one.
    bool RegisterLoop(CMessageLoop* loop);
    /// Takes out the calling thread's loop; false when the thread has none.
    bool UnregisterLoop();
    /// The loop of the thread, or nullptr.
    CMessageLoop* LoopForThread(DWORD threadId);

  private:
    class Lock;

    HINSTANCE m_hInstance = nullptr;
    DWORD m_nMainThreadId = 0;
    CRITICAL_SECTION m_lock;
    std::map<DWORD, CMessageLoop*> m_loops;
};

/// The program's one application module.
extern CAppModule g_module;

}  // namespace vantrel

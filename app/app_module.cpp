#include "app/app_module.h"

namespace vantrel {

CAppModule g_module;

/// Holds the module's critical section for one table operation.
class CAppModule::Lock {
  public:
    explicit Lock(CRITICAL_SECTION& section) : m_section(section) {
        EnterCriticalSection(&m_section);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock() { LeaveCriticalSection(&m_section); }

  private:
    CRITICAL_SECTION& m_section;
};

CAppModule::CAppModule() { InitializeCriticalSection(&m_lock); }

CAppModule::~CAppModule() { DeleteCriticalSection(&m_lock); }

void CAppModule::Init(HINSTANCE instance) {
    Lock lock(m_lock);
    m_hInstance = instance;
    m_nMainThreadId = GetCurrentThreadId();
    m_loops.clear();
}

void CAppModule::Term() {
    Lock lock(m_lock);
    m_loops.clear();
}

bool CAppModule::RegisterLoop(CMessageLoop* loop) {
    Lock lock(m_lock);
    return m_loops.emplace(GetCurrentThreadId(), loop).second;
}

bool CAppModule::UnregisterLoop() {
    Lock lock(m_lock);
    return m_loops.erase(GetCurrentThreadId()) > 0;
}

CMessageLoop* CAppModule::LoopForThread(DWORD threadId) {
    Lock lock(m_lock);
    auto it = m_loops.find(threadId);
    return it == m_loops.end() ? nullptr : it->second;
}

}  // namespace vantrel

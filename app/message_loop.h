#pragma once

#include <windows.h>

#include <vector>

#include "app/idle_handler.h"
#include "app/message_filter.h"

namespace vantrel {

/// The message loop of one thread: filters see each message first, newest first; idle
/// handlers run once each time the queue runs empty after a message that counts as input.
class CMessageLoop {
  public:
    CMessageLoop() = default;
    CMessageLoop(const CMessageLoop&) = delete;
    CMessageLoop& operator=(const CMessageLoop&) = delete;
    virtual ~CMessageLoop() = default;

    // The lists hold the objects without owning them.
    void AddFilter(CMessageFilter* filter);
    bool RemoveFilter(CMessageFilter* filter);
    void AddIdle(CIdleHandler* handler);
    bool RemoveIdle(CIdleHandler* handler);

    /// Runs until WM_QUIT and returns its code.
    int RunLoop();

    /// Mouse moves, paint and the system timer message come all the time without anything
    /// having happened, so they do not start a new idle phase.
    static bool IsIdleMessage(const MSG& msg);

  protected:
    /// Asks the filters, last added first; true when one of them consumed the message.
    virtual bool DispatchToFilters(MSG* pMsg);
    /// Calls every idle handler once; false ends the idle phase.
    virtual bool DispatchIdle(int idleCount);

    MSG m_msg{};

  private:
    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
};

}  // namespace vantrel

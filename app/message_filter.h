#pragma once

#include <windows.h>

namespace vantrel {

/// Sees every message of the loop before it is translated and dispatched.
class CMessageFilter {
  public:
    /// True when the message was consumed: it is then neither translated nor dispatched.
    virtual bool FilterMessage(MSG* pMsg) = 0;

  protected:
    // The loop never owns a filter, so it never deletes one through this interface.
    ~CMessageFilter() = default;
};

}  // namespace vantrel

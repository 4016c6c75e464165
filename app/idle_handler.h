#pragma once

namespace vantrel {

/// Called once each time the loop's queue runs empty after real input.
class CIdleHandler {
  public:
    virtual bool HandleIdle() = 0;

  protected:
    // The loop never owns a handler, so it never deletes one through this interface.
    ~CIdleHandler() = default;
};

}  // namespace vantrel

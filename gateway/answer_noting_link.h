#pragma once

#include <functional>

#include "unit_link/forwarding_unit_link.h"

namespace vantrel::gateway {

/// A unit's link lent to a command: every exchange the unit answers calls `answered`, so that a
/// unit busy with a long command counts as answering although no poll runs meanwhile. The
/// updates also note their own progress as the unit answers it.
class AnswerNotingLink : public ForwardingUnitLink {
  public:
    AnswerNotingLink(UnitLink& link, std::function<void()> answered)
        : ForwardingUnitLink(link), m_answered(std::move(answered)) {}

  private:
    void Exchanged(const char*, Fault fault) override {
        if (fault == Fault::kNone) m_answered();
    }

    const std::function<void()> m_answered;
};

}  // namespace vantrel::gateway

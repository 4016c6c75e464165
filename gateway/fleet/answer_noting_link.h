#pragma once

#include <functional>
#include <optional>

#include "unit_link/forwarding_unit_link.h"

namespace vantrel::gateway {

/// A unit's link lent to a command: every exchange the unit answers calls `answered`, so that a
/// unit busy with a long command counts as answering although no poll runs meanwhile. The
/// updates also note their own progress as the unit answers it. It also keeps the status the
/// command read last, when nothing followed it, which the monitor then need not read again.
class AnswerNotingLink : public ForwardingUnitLink {
  public:
    AnswerNotingLink(UnitLink& link, std::function<void()> answered)
        : ForwardingUnitLink(link), m_answered(std::move(answered)) {}

    /// The status the command read last, unless anything was exchanged after: what the unit holds.
    const std::optional<StatusBlock>& StatusNow() const { return m_status; }

    Result<StatusBlock> ReadStatus() override {
        Result<StatusBlock> status = ForwardingUnitLink::ReadStatus();
        if (status.Ok()) m_status = status.Value();
        return status;
    }
    void Close() override {
        m_status.reset();
        ForwardingUnitLink::Close();
    }

  private:
    // Any exchange may have changed the unit, or failed: a status kept before it is no longer
    // known to be what the unit holds.
    void Exchanged(const char*, Fault fault) override {
        m_status.reset();
        if (fault == Fault::kNone) m_answered();
    }

    const std::function<void()> m_answered;
    std::optional<StatusBlock> m_status;
};

}  // namespace vantrel::gateway

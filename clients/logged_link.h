#pragma once

#include <memory>

#include "unit/traffic_recorder.h"
#include "unit_link/forwarding_unit_link.h"

namespace vantrel::clients {

/// A unit's link whose every call is one line of the exchange log: the bytes its transport
/// moved meanwhile (recorded below it) and the call's outcome. Owns the recorder, the link and
/// the transport the link runs over, in the order they must go.
class LoggedLink : public ForwardingUnitLink {
  public:
    /// `transport`: what the recording transport under `link` passes its calls to.
    LoggedLink(std::unique_ptr<TrafficRecorder> recorder, std::shared_ptr<void> transport,
               std::unique_ptr<UnitLink> link);

    void Close() override;

  private:
    void Exchanged(const char* name, Fault fault) override;

    std::unique_ptr<TrafficRecorder> m_recorder;
    std::shared_ptr<void> m_transport;
    std::unique_ptr<UnitLink> m_link;  // goes first: it uses the two above
};

}  // namespace vantrel::clients

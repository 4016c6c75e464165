#include "clients/logged_link.h"

namespace vantrel::clients {

LoggedLink::LoggedLink(std::unique_ptr<TrafficRecorder> recorder, std::shared_ptr<void> transport,
                       std::unique_ptr<UnitLink> link)
    : ForwardingUnitLink(*link),
      m_recorder(std::move(recorder)),
      m_transport(std::move(transport)),
      m_link(std::move(link)) {}

// A close is logged too, for the bytes it may move, though it has no outcome of its own.
void LoggedLink::Close() {
    ForwardingUnitLink::Close();
    Exchanged("close", Fault::kNone);
}

void LoggedLink::Exchanged(const char* name, Fault fault) {
    m_recorder->EndExchange(name, FaultName(fault));
}

}  // namespace vantrel::clients

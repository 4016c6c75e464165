#pragma once

#include <string>

#include "gateway/api/api.h"
#include "gateway/net/http_server.h"

namespace vantrel::testing {

/// The API behind the network core on an address that needs tokens, with no tokens held, as a
/// reload that left the tokens file empty leaves a gateway; no units.
class TokenlessGateway {
  public:
    /// Serves on `address`, at a port of the system's choice, once Listening().
    explicit TokenlessGateway(const std::string& address) {
        m_listening = m_server.Listen(address, 0, m_error);
        if (!m_listening) return;
        m_api.SetListening(m_server.Port(), false, true);
        m_server.Start();
    }

    bool Listening() const { return m_listening; }
    /// Why it does not listen.
    const std::string& Error() const { return m_error; }
    int Port() const { return m_server.Port(); }

  private:
    gateway::Units m_units{
        gateway::WaitableClock::System(), gateway::RealLinks(gateway::WaitableClock::System()), {}};
    gateway::EventHub m_hub{4};
    gateway::FirmwareJobs m_jobs{m_units, m_hub, gateway::WaitableClock::System()};
    gateway::Tokens m_tokens;
    gateway::AuditLog m_audit;
    gateway::Api m_api{m_units, m_hub, m_jobs, m_tokens, m_audit};
    gateway::HttpServer m_server{m_api, gateway::ServerLimits{}};
    std::string m_error;
    bool m_listening = false;
};

}  // namespace vantrel::testing

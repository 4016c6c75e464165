#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gateway/audit_log.h"
#include "gateway/event_hub.h"
#include "gateway/firmware_jobs.h"
#include "gateway/http_message.h"
#include "gateway/tokens.h"
#include "gateway/unit_command.h"
#include "gateway/units.h"

namespace vantrel::gateway {

/// The most a command's JSON body may hold; a firmware image may hold kMostImageBytes.
constexpr std::size_t kMostCommandBytes = 64 * 1024;
constexpr std::size_t kMostImageBytes = 8 * 1024 * 1024;

/// Every route of the gateway: the page, the JSON API, the event stream and the metrics, and
/// who may ask. With tokens, the API and the metrics need one whose role allows the request;
/// without, only requests addressed to the gateway's loopback name are served. Nothing here
/// waits on a unit.
class Api : public HttpHandler {
  public:
    Api(Units& units, EventHub& hub, FirmwareJobs& jobs, const Tokens& tokens, AuditLog& audit)
        : m_units(units), m_hub(hub), m_jobs(jobs), m_tokens(tokens), m_audit(audit) {}

    /// The port listened on, which the loopback names carry, and whether it is HTTPS, which
    /// the gateway's own origin says.
    void SetListening(int port, bool tls) {
        m_port = port;
        m_scheme = tls ? "https" : "http";
    }
    /// Series of the gateway's other services, after the units' own.
    void SetExtraMetrics(std::function<std::string()> metrics) {
        m_extraMetrics = std::move(metrics);
    }

    std::optional<HttpResponse> Admit(const HttpRequest& head, std::size_t& bodyLimit) override;
    void Serve(HttpRequest request, Respond respond) override;

  private:
    using Parts = std::vector<std::string>;
    void Get(const HttpRequest& request, const Identity& who, const Parts& parts,
             const Respond& respond);
    void Post(const HttpRequest& request, const Identity& who, const Parts& parts,
              const ReplySink& done);
    void Events(const Respond& respond);
    /// Who sent the request: the holder of its token, or "local" where no token is needed.
    std::optional<Identity> Caller(const HttpRequest& request) const;

    Units& m_units;
    EventHub& m_hub;
    FirmwareJobs& m_jobs;
    const Tokens& m_tokens;
    AuditLog& m_audit;
    int m_port = 0;
    std::string m_scheme = "http";
    std::function<std::string()> m_extraMetrics;
};

}  // namespace vantrel::gateway

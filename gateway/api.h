#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gateway/event_hub.h"
#include "gateway/firmware_jobs.h"
#include "gateway/http_message.h"
#include "gateway/unit_command.h"
#include "gateway/units.h"

namespace vantrel::gateway {

/// The most a command's JSON body may hold; a firmware image may hold kMostImageBytes.
constexpr std::size_t kMostCommandBytes = 64 * 1024;
constexpr std::size_t kMostImageBytes = 8 * 1024 * 1024;

/// Every route of the gateway: the page, the JSON API, the event stream and the metrics, and
/// who may ask. With a token, the API and the metrics need it; without one, only requests
/// addressed to the gateway's loopback name are served. Nothing here waits on a unit.
class Api : public HttpHandler {
  public:
    Api(Units& units, EventHub& hub, FirmwareJobs& jobs, std::optional<std::string> token)
        : m_units(units), m_hub(hub), m_jobs(jobs), m_token(std::move(token)) {}

    /// The port listened on, which the loopback names carry.
    void SetPort(int port) { m_port = port; }
    /// Series of the gateway's other services, after the units' own.
    void SetExtraMetrics(std::function<std::string()> metrics) {
        m_extraMetrics = std::move(metrics);
    }

    std::optional<HttpResponse> Admit(const HttpRequest& head, std::size_t& bodyLimit) override;
    void Serve(HttpRequest request, Respond respond) override;

  private:
    using Parts = std::vector<std::string>;
    void Get(const HttpRequest& request, const Parts& parts, const Respond& respond);
    void Post(const HttpRequest& request, const Parts& parts, const ReplySink& done);
    void Events(const Respond& respond);

    Units& m_units;
    EventHub& m_hub;
    FirmwareJobs& m_jobs;
    const std::optional<std::string> m_token;
    int m_port = 0;
    std::function<std::string()> m_extraMetrics;
};

}  // namespace vantrel::gateway

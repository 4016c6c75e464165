#pragma once

#include <httplib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clients/link_factory.h"
#include "gateway/event_hub.h"
#include "gateway/firmware_jobs.h"
#include "gateway/units.h"

namespace vantrel::gateway {

struct GatewayOptions {
    std::vector<cli::Target> units;
    std::string host = "127.0.0.1";
    int port = 8023;  // 0: any free port
    MonitorOptions monitor;
    /// Needed on any address but 127.0.0.1 (NeedsToken).
    std::optional<std::string> token;
};

/// The service: a monitor per unit and the HTTP server in front of them.
class Gateway {
  public:
    explicit Gateway(const GatewayOptions& options);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    /// Listens, starts the units' monitors and serves on a thread of its own; false, with the
    /// reason in `error`, when it cannot.
    bool Start(std::string& error);
    /// Ends every stream, the server and the monitors; safe to call twice.
    void Stop();
    /// The port listened on (the one chosen, for port 0).
    int Port() const { return m_port; }

  private:
    /// The server's threads, and how many of them event streams may hold.
    static constexpr std::size_t kServerThreads = 32;
    static constexpr std::size_t kMostStreams = 24;

    const GatewayOptions m_options;
    EventHub m_hub{kMostStreams};
    Units m_units;
    FirmwareJobs m_jobs{m_units, m_hub};
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_serving;
};

}  // namespace vantrel::gateway

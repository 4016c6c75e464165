#include "gateway/gateway.h"

#include "gateway/access.h"
#include "gateway/api.h"
#include "gateway/unit_json.h"

namespace vantrel::gateway {

Gateway::Gateway(const GatewayOptions& options) : m_options(options) {
    for (const cli::Target& target : options.units) {
        auto makeLink = [target](const std::atomic<int32_t>& stop) {
            cli::LinkOptions linkOptions;
            linkOptions.stop = &stop;
            return cli::MakeLink(target, linkOptions);
        };
        // A serial unit is named by its device's base name: ttyUSB0.
        const std::string name =
            target.serial ? target.name.substr(target.name.rfind('/') + 1) : target.name;
        m_units.Add(std::make_unique<UnitMonitor>(
            name, makeLink, options.monitor, [this](const UnitSnapshot& snapshot) {
                m_hub.Publish("unit", UnitJson(snapshot).dump());
            }));
    }
    m_server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    AddRoutes(m_server, m_units, m_hub, m_jobs, options.token);
}

Gateway::~Gateway() { Stop(); }

bool Gateway::Start(std::string& error) {
    if (NeedsToken(m_options.host) && !m_options.token) {
        error = "listening on " + m_options.host + " needs --token-file";
        return false;
    }
    m_port = m_options.port == 0
                 ? m_server.bind_to_any_port(m_options.host)
                 : (m_server.bind_to_port(m_options.host, m_options.port) ? m_options.port : -1);
    if (m_port <= 0) {
        error = "cannot listen on " + m_options.host + ":" + std::to_string(m_options.port);
        return false;
    }
    m_units.Start();
    m_serving = std::thread([this] { m_server.listen_after_bind(); });
    return true;
}

// The monitors stop first: a request that waits for its command's turn behind a long one (a
// firmware update) is then answered at once, and the server's threads come free to be joined.
void Gateway::Stop() {
    m_hub.Close();
    m_jobs.Close();
    m_units.Stop();
    m_server.stop();
    if (m_serving.joinable()) m_serving.join();
}

}  // namespace vantrel::gateway

// vantrel-gateway: a rack of Vantrel units behind one HTTP service. It holds each unit's one
// link, polls it, and serves a JSON API, Server-Sent Events, Prometheus metrics and a page.
#include <signal.h>

#include <CLI/CLI.hpp>

#include <cstdio>

#include "clients/dotted_address.h"
#include "clients/targets.h"
#include "gateway/access.h"
#include "gateway/gateway.h"
#include "res/version.h"

namespace vantrel::gateway {
namespace {

constexpr int kUsage = 2;

int Usage(const std::string& message) {
    std::fprintf(stderr, "vantrel-gateway: %s\n", message.c_str());
    return kUsage;
}

// "HOST:PORT" with a dotted host.
bool ParseListen(const std::string& text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    std::uint32_t address = 0;
    if (colon == std::string::npos || !cli::ParseDotted(text.substr(0, colon), address)) {
        return false;
    }
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != digits.npos) {
        return false;
    }
    host = text.substr(0, colon);
    port = std::stoi(digits);
    return port > 0 && port <= 65535;
}

int Main(int argc, char** argv) {
    CLI::App app{"vantrel-gateway: Vantrel units over HTTP"};
    app.set_version_flag("--version", VANTREL_VERSION_TEXT);
    std::vector<std::string> units, ports;
    std::string unitsFile, listen = "127.0.0.1:8023", tokenFile;
    int poll = 5;
    app.add_option("--unit", units, "a unit's IP address (TCP console); may be repeated");
    app.add_option("--units-file", unitsFile, "a file of unit addresses, one a line; # comments");
    app.add_option("--port", ports, "a serial port: /dev/ttyUSB0; may be repeated");
    app.add_option("--listen", listen, "HOST:PORT to serve on (default 127.0.0.1:8023)");
    app.add_option("--poll", poll, "seconds between status polls (default 5)")
        ->check(CLI::Range(1, 3600));
    app.add_option("--token-file", tokenFile, "a file holding the bearer token clients send");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : kUsage;
    }

    GatewayOptions options;
    if (!ParseListen(listen, options.host, options.port)) {
        return Usage("--listen takes A.B.C.D:PORT: " + listen);
    }
    if (!unitsFile.empty() && !cli::ReadUnitsFile(unitsFile, units)) {
        return Usage("cannot read " + unitsFile);
    }
    std::string error;
    if (!cli::MakeTargets(units, ports, options.units, error)) return Usage(error);
    if (options.units.empty()) return Usage("no unit: give --unit A.B.C.D or --port DEVICE");
    if (!tokenFile.empty()) {
        options.token = ReadTokenFile(tokenFile);
        if (!options.token) return Usage("no token in " + tokenFile);
    }
    if (NeedsToken(options.host) && !options.token) {
        return Usage("listening on " + options.host + " needs --token-file: others can reach it");
    }
    options.monitor.poll = std::chrono::seconds(poll);

    // The signals are taken by sigwait below, on this thread, so every thread started from
    // here on has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Gateway gateway(options);
    if (!gateway.Start(error)) return Usage(error);
    std::printf("vantrel-gateway: serving %zu units on http://%s:%d/\n", options.units.size(),
                options.host.c_str(), gateway.Port());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    gateway.Stop();
    return 0;
}

}  // namespace
}  // namespace vantrel::gateway

int main(int argc, char** argv) { return vantrel::gateway::Main(argc, argv); }

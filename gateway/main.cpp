// vantrel-gateway: a rack of Vantrel units behind one HTTP service. It holds each unit's one
// link, polls it, and serves a JSON API, Server-Sent Events, Prometheus metrics and a page.
#include <signal.h>
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>

#include "clients/dotted_address.h"
#include "clients/targets.h"
#include "gateway/access.h"
#include "gateway/ember_access.h"
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

// Names reach JSON and the metrics, which take UTF-8 only.
bool IsUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

// Each connection is a descriptor, and so is each unit's link: the soft limit (often 1024) is
// raised as far as the hard one allows. Says so when that is short of what may be asked.
void RaiseOpenFileLimit(std::size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur =
            limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < wanted) {
        std::fprintf(stderr,
                     "vantrel-gateway: warning: at most %llu open files (ulimit -n); %zu wanted\n",
                     static_cast<unsigned long long>(limit.rlim_cur), wanted);
    }
}

// SIGHUP reads the tokens file again. The first stop signal stops taking requests; firmware
// updates that run are let finish, as the panel lets one finish when it is closed, unless a
// second stop signal comes.
void Serve(Gateway& gateway, const sigset_t& signals) {
    for (int received = 0; sigwait(&signals, &received) == 0 && received == SIGHUP;) {
        std::string why;
        if (gateway.ReloadTokens(why)) {
            std::fprintf(stderr, "vantrel-gateway: read the tokens file again\n");
        } else {
            std::fprintf(stderr, "vantrel-gateway: %s; the tokens in force stay\n", why.c_str());
        }
    }
    gateway.BeginStop();
    std::vector<std::string> updating = gateway.Updating();
    if (!updating.empty()) {
        std::string names;
        for (const std::string& name : updating) names += (names.empty() ? "" : ", ") + name;
        std::fprintf(stderr,
                     "vantrel-gateway: waiting for the firmware updates of %s to end; signal "
                     "again to stop them\n",
                     names.c_str());
    }
    const timespec slice{0, 100 * 1000 * 1000};
    while (!gateway.Updating().empty()) {
        const int received = sigtimedwait(&signals, nullptr, &slice);
        if (received > 0 && received != SIGHUP) break;
    }
    gateway.Stop();
}

int Main(int argc, char** argv) {
    CLI::App app{"vantrel-gateway: Vantrel units over HTTP"};
    app.set_version_flag("--version", VANTREL_VERSION_TEXT);
    std::vector<std::string> units, ports;
    std::string unitsFile, listen = "127.0.0.1:8023", tokenFile, tokensFile, auditLog;
    int poll = 5;
    app.add_option("--unit", units, "a unit's IP address (TCP console); may be repeated");
    app.add_option("--units-file", unitsFile, "a file of unit addresses, one a line; # comments");
    app.add_option("--port", ports, "a serial port: /dev/ttyUSB0; may be repeated");
    app.add_option("--listen", listen, "HOST:PORT to serve on (default 127.0.0.1:8023)");
    app.add_option("--poll", poll, "seconds between status polls (default 5)")
        ->check(CLI::Range(1, 3600));
    app.add_option("--token-file", tokenFile, "a file holding the one (admin) bearer token");
    app.add_option("--tokens-file", tokensFile,
                   "a file of named tokens, NAME viewer|operator|admin TOKEN a line; read again "
                   "on SIGHUP")
        ->excludes("--token-file");
    app.add_option("--audit-log", auditLog, "a file the audit log's JSON lines are appended to");
    std::string tlsCertificate, tlsKey;
    auto* certificate =
        app.add_option("--tls-cert", tlsCertificate, "serve HTTPS with this PEM certificate chain");
    app.add_option("--tls-key", tlsKey, "... and this PEM private key")->needs(certificate);
    certificate->needs("--tls-key");
    std::string ember, emberAllow;
    bool emberReadOnly = false;
    std::size_t emberPerAddress = EmberOptions{}.perAddress;
    app.add_option("--ember", ember,
                   "HOST:PORT to serve Ember+ on (off unless given; 9000 is usual)");
    app.add_option("--ember-allow", emberAllow,
                   "CIDR[=viewer|operator][,...]: the Ember+ clients allowed, and their role "
                   "(operator unless given: a viewer reads only; the narrowest block decides); "
                   "needed on any address but loopback");
    app.add_flag("--ember-read-only", emberReadOnly,
                 "every Ember+ client a viewer: it may read but not set or invoke");
    auto* perAddress = app.add_option("--ember-per-address", emberPerAddress,
                                      "the most Ember+ connections from one address (8)")
                           ->check(CLI::Range(1, 64));
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
    for (const cli::Target& target : options.units) {
        if (!IsUtf8(target.name)) return Usage("a unit's name is not UTF-8: " + target.name);
    }
    if (!tokenFile.empty()) {
        options.token = ReadTokenFile(tokenFile, error);
        if (!options.token) return Usage(error);
    }
    options.tokensFile = tokensFile;
    options.auditLog = auditLog;
    options.tlsCertificate = tlsCertificate;
    options.tlsKey = tlsKey;
    if (NeedsToken(options.host) && !options.token && tokensFile.empty()) {
        return Usage("listening on " + options.host + " needs --token-file: others can reach it");
    }
    options.monitor.poll = std::chrono::seconds(poll);
    if (!ember.empty()) {
        EmberOptions emberOptions;
        if (!ParseListen(ember, emberOptions.host, emberOptions.port)) {
            return Usage("--ember takes A.B.C.D:PORT: " + ember);
        }
        if (!emberAllow.empty() && !ParseEmberAllow(emberAllow, emberOptions.allow, error)) {
            return Usage("--ember-allow: " + error);
        }
        if (NeedsAllowList(emberOptions.host) && emberOptions.allow.empty()) {
            return Usage("Ember+ on " + emberOptions.host +
                         " needs --ember-allow: it has no authentication");
        }
        emberOptions.readOnly = emberReadOnly;
        emberOptions.perAddress = emberPerAddress;
        options.ember = emberOptions;
    } else if (!emberAllow.empty() || emberReadOnly || perAddress->count() > 0) {
        return Usage("--ember-allow, --ember-read-only and --ember-per-address need --ember");
    }

    // The signals are taken by sigwait below, on this thread, so every thread started from
    // here on has them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    RaiseOpenFileLimit(options.server.connections + 4 * options.units.size() + 128);

    Gateway gateway(options);
    if (!gateway.Start(error)) return Usage(error);
    if (NeedsToken(options.host) && tlsCertificate.empty()) {
        std::fprintf(stderr,
                     "vantrel-gateway: warning: without --tls-cert, tokens cross the network to "
                     "%s in clear text\n",
                     options.host.c_str());
    }
    std::printf("vantrel-gateway: serving %zu units on %s://%s:%d/\n", options.units.size(),
                tlsCertificate.empty() ? "http" : "https", options.host.c_str(), gateway.Port());
    if (options.ember) {
        std::printf("vantrel-gateway: Ember+ on %s:%d\n", options.ember->host.c_str(),
                    gateway.EmberPort());
    }
    std::fflush(stdout);
    Serve(gateway, signals);
    return 0;
}

}  // namespace
}  // namespace vantrel::gateway

int main(int argc, char** argv) { return vantrel::gateway::Main(argc, argv); }

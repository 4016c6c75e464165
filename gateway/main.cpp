// vantrel-gateway: a rack of Vantrel units behind one HTTP service. It holds each unit's one
// link, polls it, and serves a JSON API, Server-Sent Events, Prometheus metrics and a page.
#include <signal.h>
#include <sys/resource.h>
#include <sysexits.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "clients/dotted_address.h"
#include "clients/targets.h"
#include "gateway/access/access.h"
#include "gateway/emberplus/ember_access.h"
#include "gateway/gateway.h"
#include "gateway/net/client_tls.h"
#include "gateway/state/file_store.h"
#include "gateway/system/owner_only_file.h"
#include "gateway/system/service_notify.h"
#include "groups/selector.h"
#include "groups/units_file.h"
#include "res/version.h"

namespace vantrel::gateway {
namespace {

// A mistake in the options or the files they name: the service manager does not start it
// again. What may pass by itself exits with EX_TEMPFAIL, which it does start again.
constexpr int kUsage = 2;
constexpr int kNotYet = EX_TEMPFAIL;

int Fail(const std::string& message, int code) {
    std::fprintf(stderr, "vantrel-gateway: %s\n", message.c_str());
    return code;
}

int Usage(const std::string& message) { return Fail(message, kUsage); }

// "HOST:PORT" with a dotted host.
bool ParseListen(const std::string& text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    std::uint32_t address = 0;
    if (colon == std::string::npos || !clients::ParseDotted(text.substr(0, colon), address)) {
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

// Each client is a descriptor, and so is each unit's link: the soft limit (often 1024) is
// raised as far as the hard one allows. The limit in force comes back.
std::size_t RaiseOpenFileLimit(std::size_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur =
            limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<std::size_t>(limit.rlim_cur);
}

// Kept back from clients: the gateway's own descriptors (the standard streams, the loop, the
// listeners, the audit log, the tokens and TLS files read again), and each unit's link with room
// for the next one while a reconnect or an update overlaps it.
constexpr std::size_t kOwnDescriptors = 64;
constexpr std::size_t kDescriptorsPerUnit = 4;
constexpr std::size_t kFewestClients = 8;

// A unit that reconnects must find a descriptor whatever the clients hold: HTTP and Ember+
// clients together get what the open-file limit leaves once the units' and the gateway's own
// are kept back, and those past it are closed as soon as they are accepted. False when too
// little is left for any.
bool ShareDescriptors(GatewayOptions& options, std::string& error) {
    std::size_t ember = options.ember ? options.emberServer.mostConnections : 0;
    const std::size_t kept = kOwnDescriptors + kDescriptorsPerUnit * options.units.size();
    const std::size_t wanted = kept + options.server.connections + ember;
    const std::size_t limit = RaiseOpenFileLimit(wanted);
    if (limit >= wanted) return true;
    if (limit < kept + kFewestClients) {
        error = "at most " + std::to_string(limit) +
                " open files (ulimit -n): " + std::to_string(options.units.size()) +
                " units need " + std::to_string(kept + kFewestClients) + " with their clients";
        return false;
    }
    std::size_t clients = limit - kept;
    ember = std::min(ember, clients / 4);
    clients -= ember;
    options.server.connections = clients;
    options.emberServer.mostConnections = ember;
    std::fprintf(stderr,
                 "vantrel-gateway: warning: at most %zu open files (ulimit -n): %zu HTTP and %zu "
                 "Ember+ clients at once\n",
                 limit, clients, ember);
    return true;
}

// A certificate out of its dates is still served, as a client may be told to accept it, but it
// is said.
void WarnOfDates(const CertificateDates& dates, const std::string& path) {
    const auto now = std::chrono::system_clock::now();
    if (now >= dates.notBefore && now <= dates.notAfter) return;
    const bool expired = now > dates.notAfter;
    const std::time_t when =
        std::chrono::system_clock::to_time_t(expired ? dates.notAfter : dates.notBefore);
    std::tm parts{};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", gmtime_r(&when, &parts));
    std::fprintf(stderr, "vantrel-gateway: warning: the certificate %s %s %s\n", path.c_str(),
                 expired ? "expired on" : "is not valid until", text);
}

// SIGHUP reads the units file, the tokens file and the TLS certificate and key again, each kept
// as it was when its files cannot be used.
void Reload(Gateway& gateway, const GatewayOptions& options) {
    if (options.store || options.cluster) {
        const RosterOutcome units = gateway.ReloadUnits();
        if (units.fault == RosterFault::kNone) {
            std::fprintf(stderr, "vantrel-gateway: read the units file again\n");
        } else {
            std::fprintf(stderr, "vantrel-gateway: %s; the units stay as they were\n",
                         units.why.c_str());
        }
    }
    std::string why;
    if (!options.tokensFile.empty()) {
        if (gateway.ReloadTokens(why)) {
            std::fprintf(stderr, "vantrel-gateway: read the tokens file again\n");
        } else {
            std::fprintf(stderr, "vantrel-gateway: %s; the tokens in force stay\n", why.c_str());
        }
    }
    if (!options.tlsCertificate.empty()) {
        if (gateway.ReloadTls(why)) {
            std::fprintf(stderr, "vantrel-gateway: read the TLS certificate and key again\n");
            WarnOfDates(*gateway.Certificate(), options.tlsCertificate);
        } else {
            std::fprintf(stderr, "vantrel-gateway: %s; the certificate in force stays\n",
                         why.c_str());
        }
    }
}

// A state folder's units file is made, empty, the first time: units are then added through
// the API.
bool StartUnitsFile(const std::string& path, std::string& error) {
    std::error_code code;
    if (std::filesystem::exists(path, code)) return true;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), code);
    const groups::WriteStep step = groups::WriteFileSafely(path, "");
    if (step == groups::WriteStep::kNone) return true;
    error = path + ": " + groups::WriteStepText(step);
    return false;
}

// What --etcd and the options that go with it give.
struct EtcdOptions {
    std::string members;
    std::string prefix = cluster::kDefaultEtcdPrefix;
    int leaseTtl = 5;
    int etcdTimeout = 1000;  // ms
    std::string id, advertise;
    ClientTlsFiles tls;
    std::string user, passwordFile;
};

// The TLS and the user etcd is reached with, their files read now, so that one that cannot be
// used stops the start rather than every call.
bool EtcdAccessOf(const EtcdOptions& etcd, bool https, cluster::EtcdAccess& access,
                  std::string& error) {
    if (https) {
        const ClientTls::Made made = ClientTls::Make(etcd.tls);
        if (!made.Ok()) {
            error = "etcd's TLS: " + made.GetError();
            return false;
        }
        access.tls = made.Value();
    } else if (!etcd.tls.authorities.empty() || !etcd.tls.certificate.empty()) {
        error = "--etcd-cacert, --etcd-cert and --etcd-key are for https:// members";
        return false;
    }
    if (etcd.user.empty()) return true;
    const std::optional<std::string> text = ReadOwnerOnly(etcd.passwordFile, error);
    if (!text) {
        error = "--etcd-password-file: " + error;
        return false;
    }
    // Its first line, as echo writes it; spaces are the password's own.
    std::string password = text->substr(0, text->find('\n'));
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) {
        error = "--etcd-password-file: no password in " + etcd.passwordFile;
        return false;
    }
    access.user = etcd.user;
    access.password = std::move(password);
    if (!https) {
        std::fprintf(stderr,
                     "vantrel-gateway: warning: without https:// members, the etcd user's "
                     "password crosses the network in clear text\n");
    }
    return true;
}

// The cluster's settings from the options: every etcd member a numeric http:// or https:// URL
// (all of one kind), as no call may wait on a name lookup, and a prefix that ends in '/'.
bool JoinCluster(const EtcdOptions& etcd, GatewayOptions& options, std::string& error) {
    cluster::ClusterSettings settings;
    std::stringstream urls(etcd.members);
    for (std::string url; std::getline(urls, url, ',');) {
        const std::optional<HttpPlace> place = ParseUrl(url);
        if (!place) {
            error = "--etcd takes http(s)://A.B.C.D:PORT[,...]: " + url;
            return false;
        }
        if (!settings.etcd.empty() && place->tls != settings.etcd.front().tls) {
            error = "--etcd mixes http:// and https:// members: " + etcd.members;
            return false;
        }
        settings.etcd.push_back(*place);
    }
    if (settings.etcd.empty()) {
        error = "--etcd takes http(s)://A.B.C.D:PORT[,...]";
        return false;
    }
    if (etcd.prefix.empty() || etcd.prefix.back() != '/') {
        error = "--etcd-prefix ends in '/': " + etcd.prefix;
        return false;
    }
    if (!EtcdAccessOf(etcd, settings.etcd.front().tls, settings.access, error)) return false;
    settings.prefix = etcd.prefix;
    settings.leaseTtl = std::chrono::seconds(etcd.leaseTtl);
    settings.etcdLimit = std::chrono::milliseconds(etcd.etcdTimeout);
    settings.self = {etcd.id.empty() ? etcd.advertise : etcd.id, etcd.advertise};
    options.cluster = settings;
    return true;
}

// The first stop signal stops taking requests; firmware updates that run are let finish, as
// the panel lets one finish when it is closed, unless a second stop signal comes.
void Serve(Gateway& gateway, const GatewayOptions& options, const sigset_t& signals,
           const ServiceNotifier& notifier) {
    for (int received = 0; sigwait(&signals, &received) == 0 && received == SIGHUP;) {
        notifier.Reloading();
        Reload(gateway, options);
        notifier.Ready();
    }
    notifier.Stopping();
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
    app.footer(
        "Exit status: 0 stopped by a signal; 2 a mistake in the options or the files they name; " +
        std::to_string(kNotYet) +
        " what may pass by itself (the listen address not up yet, its port in use, the audit "
        "log's folder not there or not writable yet): start it again later.");
    std::vector<std::string> units, ports;
    std::string stateDir, unitsFile, listen = "127.0.0.1:8023", tokenFile, tokensFile, auditLog;
    int poll = 5;
    app.add_option("--unit", units, "a unit's IP address (TCP console); may be repeated");
    app.add_option("--units-file", unitsFile,
                   "a file of units, one a line: an IP address or a serial port, then an optional "
                   "name=NAME and key=value labels; # comments");
    app.add_option("--state-dir", stateDir,
                   "a folder for what is kept across restarts: the units file (DIR/units unless "
                   "--units-file is given), the snapshots and the assignments");
    app.add_option("--port", ports, "a serial port: /dev/ttyUSB0; may be repeated");
    app.add_option("--listen", listen, "HOST:PORT to serve on (default 127.0.0.1:8023)");
    std::size_t groupLimit = groups::kDefaultMostUnits;
    app.add_option("--group-limit", groupLimit,
                   "the most units a group command acts on without \"confirm\" giving their "
                   "count (default 64)")
        ->check(CLI::Range(1, 100000));
    app.add_option("--poll", poll, "seconds between status polls (default 5)")
        ->check(CLI::Range(1, 3600));
    app.add_option("--token-file", tokenFile, "a file holding the one (admin) bearer token");
    app.add_option("--tokens-file", tokensFile,
                   "a file of named tokens, NAME viewer|operator|admin TOKEN a line; read again "
                   "on SIGHUP, as are the TLS certificate and key")
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
    EtcdOptions etcd;
    auto* joins = app.add_option("--etcd", etcd.members,
                                 "http(s)://A.B.C.D:PORT[,...]: share the units with the other "
                                 "gateways of these etcd members; the units, snapshots and "
                                 "assignments are kept there")
                      ->excludes("--unit", "--port", "--units-file", "--state-dir");
    app.add_option("--etcd-prefix", etcd.prefix,
                   "where in etcd this facility's gateways keep their state (default /vantrel/)")
        ->needs(joins);
    app.add_option("--etcd-lease-ttl", etcd.leaseTtl,
                   "seconds a gateway that stops answering etcd holds its units (default 5)")
        ->check(CLI::Range(2, 60))
        ->needs(joins);
    app.add_option("--etcd-timeout", etcd.etcdTimeout,
                   "milliseconds an etcd call may take before it has failed (default 1000; "
                   "more for members across sites)")
        ->check(CLI::Range(100, 60000))
        ->needs(joins);
    app.add_option("--etcd-cacert", etcd.tls.authorities,
                   "the PEM certificate of the authority that signed the https:// members' "
                   "certificates (default: the system's authorities)")
        ->needs(joins);
    auto* etcdCertificate =
        app.add_option("--etcd-cert", etcd.tls.certificate,
                       "a PEM certificate chain to show etcd when it asks for one "
                       "(--client-cert-auth)")
            ->needs(joins);
    app.add_option("--etcd-key", etcd.tls.key, "... and its PEM private key")
        ->needs(etcdCertificate);
    etcdCertificate->needs("--etcd-key");
    auto* etcdUser = app.add_option("--etcd-user", etcd.user,
                                    "the etcd user to authenticate as, when etcd's "
                                    "authentication is on")
                         ->needs(joins);
    app.add_option("--etcd-password-file", etcd.passwordFile,
                   "a file whose first line is that user's password, readable by the gateway's "
                   "user alone")
        ->needs(etcdUser);
    etcdUser->needs("--etcd-password-file");
    app.add_option("--gateway-id", etcd.id,
                   "this gateway's name among the others (default: its --advertise URL)")
        ->needs(joins);
    app.add_option("--advertise", etcd.advertise,
                   "the URL the other gateways reach this one's API at (default: http(s)://"
                   "HOST:PORT of --listen)")
        ->needs(joins);
    std::string linkSource;
    app.add_option("--link-source", linkSource,
                   "127.A.B.C: the loopback address the units' console links are made from, so "
                   "that a simulated unit can tell gateways apart");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : kUsage;
    }

    GatewayOptions options;
    if (!ParseListen(listen, options.host, options.port)) {
        return Usage("--listen takes A.B.C.D:PORT: " + listen);
    }
    std::string error;
    if (!stateDir.empty() && unitsFile.empty()) {
        unitsFile = stateDir + "/units";
        if (!StartUnitsFile(unitsFile, error)) return Usage(error);
    }
    if (!unitsFile.empty()) {
        const auto read = groups::ReadUnitsFile(unitsFile);
        if (!read.Ok()) return Usage(groups::ErrorText(unitsFile, read.GetError()));
        for (groups::UnitEntry& entry : read.Value().Units()) {
            (entry.Serial() ? ports : units).push_back(entry.unit);
            options.described.push_back(std::move(entry));
        }
        // Beside the units file unless a state folder is given.
        std::string folder = std::filesystem::path(unitsFile).parent_path().string();
        if (!stateDir.empty()) folder = stateDir;
        options.store = std::make_shared<FileStore>(unitsFile, folder.empty() ? "." : folder);
    }
    if (!clients::MakeTargets(units, ports, options.units, error)) return Usage(error);
    if (!etcd.members.empty()) {
        const std::string scheme = tlsCertificate.empty() ? "http://" : "https://";
        if (etcd.advertise.empty()) {
            etcd.advertise = scheme + options.host + ":" + std::to_string(options.port);
        }
        if (!JoinCluster(etcd, options, error)) return Usage(error);
    }
    // With a units file, or in a cluster, units may be added once it runs.
    if (options.units.empty() && !options.store && !options.cluster) {
        return Usage("no unit: give --unit A.B.C.D, --port DEVICE, --units-file or --state-dir");
    }
    for (const clients::Target& target : options.units) {
        if (!IsUtf8(target.name)) return Usage("a unit's name is not UTF-8: " + target.name);
    }
    if (!linkSource.empty()) {
        std::uint32_t source = 0;
        if (!clients::ParseDotted(linkSource, source) || source >> 24 != 127) {
            return Usage("--link-source takes a loopback address 127.A.B.C: " + linkSource);
        }
        options.linkSource = source;
    }
    if (!tokenFile.empty()) {
        options.token = ReadTokenFile(tokenFile, error);
        if (!options.token) return Usage(error);
    }
    options.tokensFile = tokensFile;
    options.auditLog = auditLog;
    options.tlsCertificate = tlsCertificate;
    options.tlsKey = tlsKey;
    options.monitor.poll = std::chrono::seconds(poll);
    options.groupLimit = groupLimit;
    if (!ember.empty()) {
        EmberOptions emberOptions;
        if (!ParseListen(ember, emberOptions.host, emberOptions.port)) {
            return Usage("--ember takes A.B.C.D:PORT: " + ember);
        }
        if (!emberAllow.empty() && !ParseEmberAllow(emberAllow, emberOptions.allow, error)) {
            return Usage("--ember-allow: " + error);
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

    if (!ShareDescriptors(options, error)) return Usage(error);

    Gateway gateway(options);
    StartFault fault = StartFault::kNone;
    if (!gateway.Start(error, &fault)) {
        return Fail(error, fault == StartFault::kNotYet ? kNotYet : kUsage);
    }
    if (const std::optional<CertificateDates> dates = gateway.Certificate()) {
        WarnOfDates(*dates, tlsCertificate);
    }
    if (NeedsToken(options.host) && tlsCertificate.empty()) {
        std::fprintf(stderr,
                     "vantrel-gateway: warning: without --tls-cert, tokens cross the network to "
                     "%s in clear text\n",
                     options.host.c_str());
    }
    const char* scheme = tlsCertificate.empty() ? "http" : "https";
    // Joined, the units are etcd's, not the options': say whose they are.
    if (options.cluster) {
        std::printf("vantrel-gateway: serving the units under %s as %s on %s://%s:%d/\n",
                    options.cluster->prefix.c_str(), options.cluster->self.id.c_str(), scheme,
                    options.host.c_str(), gateway.Port());
    } else {
        std::printf("vantrel-gateway: serving %zu units on %s://%s:%d/\n", options.units.size(),
                    scheme, options.host.c_str(), gateway.Port());
    }
    if (options.ember) {
        std::printf("vantrel-gateway: Ember+ on %s:%d\n", options.ember->host.c_str(),
                    gateway.EmberPort());
    }
    std::fflush(stdout);
    const ServiceNotifier notifier;
    notifier.Ready();
    Serve(gateway, options, signals, notifier);
    return 0;
}

}  // namespace
}  // namespace vantrel::gateway

int main(int argc, char** argv) { return vantrel::gateway::Main(argc, argv); }

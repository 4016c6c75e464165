#include "gateway/gateway.h"

#include <cerrno>

#include "gateway/access/access.h"
#include "gateway/cluster/cluster_key.h"
#include "gateway/cluster/shared_jobs.h"
#include "gateway/emberplus/ember_access.h"
#include "gateway/metrics/metrics.h"
#include "gateway/fleet/unit_json.h"
#include "res/version.h"

namespace vantrel::gateway {
namespace {

UnitNaming NamingOf(const std::vector<groups::UnitEntry>& described, const std::string& unit) {
    for (const groups::UnitEntry& entry : described) {
        if (entry.unit == unit) return {entry.name, entry.labels};
    }
    return {};
}

std::unique_ptr<cluster::EtcdClient> EtcdOf(const GatewayOptions& options) {
    if (!options.cluster) return nullptr;
    return std::make_unique<cluster::EtcdClient>(options.cluster->etcd, options.cluster->etcdLimit,
                                                 options.cluster->access);
}

// In a cluster, a unit is driven only once this gateway has claimed it.
MonitorOptions MonitorOf(const GatewayOptions& options) {
    MonitorOptions monitor = options.monitor;
    if (options.cluster) monitor.driven = false;
    return monitor;
}

}  // namespace

Gateway::Gateway(const GatewayOptions& options)
    : Gateway(options, WaitableClock::System(),
              RealLinks(
                  WaitableClock::System(), [this] { return MayWrite(); }, options.linkSource)) {}

Gateway::Gateway(const GatewayOptions& options, WaitableClock& clock, UnitLinkMaker makeLink)
    : m_options(options),
      m_etcd(EtcdOf(options)),
      m_store(m_etcd ? std::make_shared<cluster::EtcdStore>(*m_etcd, options.cluster->prefix)
                     : options.store),
      m_units(clock, std::move(makeLink), MonitorOf(options)),
      m_roster(m_units, m_hub, m_store,
               [this](const UnitSnapshot& snapshot) { Changed(snapshot); }),
      m_jobs(m_units, m_hub, clock) {
    if (m_etcd) {
        m_claims = std::make_unique<cluster::UnitClaims>(*m_etcd, *options.cluster, m_units, clock,
                                                         [this] { SharedStateChanged(); });
        m_audit.SetSigner([this] { return m_claims->Signature(); });
        m_api.SetMetricUnits([this](const std::string& unit) { return DrivenHere(unit); });
        JoinCluster(*options.cluster);
    }
    if (options.token) m_tokens.SetSingle(*options.token);
    for (const clients::Target& target : options.units) {
        m_units.Add(
            ApiName(target.name), target,
            [this](const UnitSnapshot& snapshot) { Changed(snapshot); },
            NamingOf(options.described, target.name));
    }
    m_api.SetExtraMetrics([this] { return ExtraMetrics(); });
    m_api.SetGroupLimit(options.groupLimit);
    m_api.SetRoster(m_roster);
}

void Gateway::JoinCluster(const cluster::ClusterSettings& settings) {
    m_forwarder = std::make_unique<Forwarder>(settings.self.id, Forwarder::Limits{});
    m_feed = std::make_unique<cluster::StateFeed>(
        *m_etcd, settings.etcd, settings.prefix, std::chrono::seconds(2),
        [this](const std::string& unit) { return m_claims->ClaimOn(unit); },
        [this](const std::string& unit, const nlohmann::json& state) {
            ToEmber(unit);
            if (!DrivenHere(unit)) m_hub.Publish("unit", state.dump());
        });
    m_api.SetOwners(*m_claims, *m_forwarder);
    m_api.SetOtherUnits(*m_feed);
    m_jobFeed = std::make_unique<cluster::StateFeed>(
        *m_etcd, settings.etcd, settings.prefix, std::chrono::seconds(2), nullptr,
        [](const std::string&, const nlohmann::json&) {}, cluster::StateFeed::Fed::kJobs);
    // Ids with this run's lease in them: no other gateway's, nor this one's once restarted.
    m_jobs.ShareJobs(
        settings.self.id,
        [this, id = settings.self.id] {
            const nlohmann::json lease = m_claims->Signature()["lease"];
            return id + "-" + (lease.is_string() ? lease.get<std::string>() : "0") + "-";
        },
        [this](const std::string& id, const std::string& job) {
            m_jobFeed->Changed(
                id, job.empty() ? job : cluster::PublishedJob(job, m_claims->Signature()["lease"]));
        });
    m_api.SetOtherJobs([this] { return SharedJobs(); });
    m_api.SetMembers([this](const std::string& id) { return m_claims->Member(id); });
}

std::map<std::string, nlohmann::json> Gateway::SharedJobs() const {
    return cluster::SharedJobs(m_jobFeed->States(),
                               [this](const std::string& id, const std::string& lease) {
                                   return m_claims->Running(id, lease);
                               });
}

bool Gateway::DrivenHere(const std::string& unit) const {
    return !m_claims || m_claims->OwnerOf(unit).where == Ownership::kHere;
}

void Gateway::Changed(const UnitSnapshot& snapshot) {
    // Ember+ reads whichever shows the unit now: this link, or what its owner publishes.
    ToEmber(snapshot.unit);
    // Over HTTP, another gateway's unit is told by the state its owner publishes.
    if (!DrivenHere(snapshot.unit)) return;
    const std::string state = UnitJson(snapshot).dump();
    // Put under this gateway's claim and lease, so that it goes when this gateway dies.
    if (m_feed) m_feed->Changed(snapshot.unit, state);
    m_hub.Publish("unit", state);
    m_api.UnitChanged(snapshot);
}

// The tree's numbers are the paths consumers hold: its units are those given, or in a cluster
// those etcd holds as the gateway starts, each named and described as the units file gives it.
void Gateway::MakeEmber() {
    std::vector<EmberProvider::UnitName> names;
    if (m_etcd) {
        for (const groups::UnitEntry& entry : m_roster.Entries()) {
            names.push_back({ApiName(entry.unit), entry.unit});
        }
    } else {
        for (const clients::Target& target : m_options.units) {
            names.push_back({ApiName(target.name), target.name});
        }
    }
    for (std::size_t place = 0; place < names.size(); ++place) {
        m_emberPlaces[names[place].name] = place;
    }
    std::optional<EmberProvider::Elsewhere> elsewhere;
    if (m_claims) {
        elsewhere.emplace(EmberProvider::Elsewhere{
            *m_claims, *m_feed,
            [this](const std::string& unit, HttpRequest request, Respond respond) {
                PassFromEmber(unit, std::move(request), std::move(respond));
            }});
    }
    m_ember = std::make_unique<EmberProvider>(m_units, m_hub, m_audit, std::move(names),
                                              *m_options.ember, elsewhere);
    // The provider's own limits, with the share of descriptors the start-up left it.
    StreamServer::Limits limits = m_ember->ConnectionLimits();
    limits.mostConnections = m_options.emberServer.mostConnections;
    m_emberServer = std::make_unique<StreamServer>(m_server, *m_ember, limits);
    m_emberMade.store(true, std::memory_order_release);
}

// Sent on only to the owner that drives it now; one that moved here meanwhile, or has no
// owner, is refused, as a command that finds its unit between owners is.
void Gateway::PassFromEmber(const std::string& unit, HttpRequest request, Respond respond) {
    const UnitOwner owner = m_claims->OwnerOf(unit);
    if (owner.where != Ownership::kElsewhere || !ForwardableUnit(unit)) {
        return respond(NotServedHere("no other gateway drives the unit " + unit));
    }
    m_forwarder->Pass(owner.owner, std::move(request), std::move(respond));
}

void Gateway::ToEmber(const std::string& unit) {
    if (!m_emberMade.load(std::memory_order_acquire)) return;
    const auto place = m_emberPlaces.find(unit);
    if (place != m_emberPlaces.end()) m_ember->Changed(place->second);
}

RosterOutcome Gateway::ReloadUnits() {
    return m_roster.Reload(CommandRecord{&m_audit, "SIGHUP", "", "reload-units", {}, "", "", ""});
}

void Gateway::SharedStateChanged() {
    m_roster.Reload(CommandRecord{&m_audit, "etcd", "", "reload-units", {}, "", "", ""});
    m_api.Snapshots().Load(m_store);
}

Gateway::~Gateway() { Stop(); }

namespace {

// An audit log whose folder is not there or not writable yet: a mount or a tmpfiles rule still
// to come.
bool NotYetWritable(int error) { return error == ENOENT || error == EACCES || error == EROFS; }

// An address not up yet at boot, or a port another program still holds. EACCES here is a low
// port without the capability, which waiting does not mend.
bool NotYetListening(int error) { return error == EADDRNOTAVAIL || error == EADDRINUSE; }

}  // namespace

bool Gateway::Start(std::string& error, StartFault* fault) {
    int refused = 0;
    const auto failed = [&](bool mayPass) {
        if (fault) *fault = mayPass ? StartFault::kNotYet : StartFault::kSetUp;
        return false;
    };
    if (!m_options.tokensFile.empty() && !m_tokens.Load(m_options.tokensFile, error)) {
        return failed(false);
    }
    // What others can reach is guarded here alone, for the program and for a gateway started
    // in process alike.
    if (NeedsToken(m_options.host) && m_tokens.Empty()) {
        error = "listening on " + m_options.host + " needs --token-file or --tokens-file";
        return failed(false);
    }
    if (m_options.ember && NeedsAllowList(m_options.ember->host) &&
        m_options.ember->allow.empty()) {
        error = "Ember+ on " + m_options.ember->host + " needs --ember-allow";
        return failed(false);
    }
    if (const std::optional<StoreError> stored = m_etcd ? std::nullopt : m_roster.Load()) {
        error = stored->text;
        return failed(false);
    }
    m_audit.SetFile(m_options.auditLog);
    if (!m_audit.Ready(error, &refused)) return failed(NotYetWritable(refused));
    // In a cluster the units come from etcd, as they would on a reload; etcd not answering
    // yet may pass, but not etcd refusing this gateway's certificates or user.
    if (m_etcd) {
        const auto reached = m_etcd->Get(m_options.cluster->prefix + "units");
        if (!reached.Ok()) {
            error = reached.GetError().text;
            return failed(!cluster::InSetUp(reached.GetError().fault));
        }
        const RosterOutcome loaded =
            m_roster.Reload(CommandRecord{&m_audit, "etcd", "", "reload-units", {}, "", "", ""});
        if (loaded.fault != RosterFault::kNone) {
            error = "the units cannot be read from etcd: " + loaded.why;
            return failed(true);
        }
        const auto key = cluster::ClusterKey(*m_etcd, m_options.cluster->prefix);
        if (!key.Ok() || key.Value().empty()) {
            error = "the cluster's key cannot be read from etcd: " +
                    (key.Ok() ? std::string("it is empty") : key.GetError().text);
            return failed(!key.Ok() && !cluster::InSetUp(key.GetError().fault));
        }
        m_forwarder->SetKey(key.Value());
        m_api.SetClusterKey(key.Value());
    }
    if (m_options.ember && !m_ember) MakeEmber();
    if (m_store) {
        if (const std::optional<StoreError> unread = m_api.Snapshots().Load(m_store)) {
            error = "the snapshots cannot be read: " + unread->text;
            return failed(m_etcd != nullptr);
        }
    }
    const bool tls = !m_options.tlsCertificate.empty();
    if (tls && !ReloadTls(error)) return failed(false);
    if (!m_server.Listen(m_options.host, m_options.port, error, &refused)) {
        return failed(NotYetListening(refused));
    }
    if (m_emberServer &&
        !m_emberServer->Listen(m_options.ember->host, m_options.ember->port, error, &refused)) {
        return failed(NotYetListening(refused));
    }
    m_port = m_server.Port();
    m_api.SetListening(m_port, tls, NeedsToken(m_options.host));
    m_units.Start();
    if (m_claims) m_claims->Start();
    if (m_emberServer) m_emberServer->Start();
    m_server.Start();
    return true;
}

bool Gateway::ReloadTls(std::string& why) {
    CertificateDates dates;
    if (!m_server.UseTls(m_options.tlsCertificate, m_options.tlsKey, dates, why)) return false;
    std::lock_guard<std::mutex> lock(m_certificateMutex);
    m_certificate = dates;
    return true;
}

std::optional<CertificateDates> Gateway::Certificate() const {
    std::lock_guard<std::mutex> lock(m_certificateMutex);
    return m_certificate;
}

std::string Gateway::ExtraMetrics() const {
    std::string text = GatewayInfoText(VANTREL_VERSION_TEXT, m_started);
    if (m_claims) text += ClusterMetricsText(m_claims->Figures());
    if (m_ember) text += m_ember->MetricsText();
    if (const std::optional<CertificateDates> certificate = Certificate()) {
        text += CertificateMetricsText(certificate->notAfter, std::chrono::system_clock::now());
    }
    return text;
}

void Gateway::BeginStop() {
    // Nothing more is claimed or let go; the claims end with the lease, once the links close.
    if (m_claims) m_claims->Stop();
    m_server.StopAccepting();
    if (m_emberServer) m_emberServer->StopAccepting();
    m_hub.Close();
    m_jobs.Close();
    m_units.BeginStop();
}

// The monitors stop before the server, so that every queued command's answer is handed to the
// server while it can still send it.
void Gateway::Stop() {
    BeginStop();
    m_units.Stop();
    if (m_forwarder) m_forwarder->Close();
    if (m_emberServer) m_emberServer->Stop();
    m_server.Stop();
}

}  // namespace vantrel::gateway

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "clients/link_factory.h"
#include "gateway/api/api.h"
#include "gateway/api/forwarder.h"
#include "gateway/cluster/etcd_client.h"
#include "gateway/cluster/state_feed.h"
#include "gateway/cluster/unit_claims.h"
#include "gateway/emberplus/ember_provider.h"
#include "gateway/net/event_hub.h"
#include "gateway/fleet/firmware_jobs.h"
#include "gateway/net/http_server.h"
#include "gateway/net/stream_server.h"
#include "gateway/fleet/unit_roster.h"
#include "gateway/fleet/units.h"
#include "gateway/state/state_store.h"
#include "groups/selector.h"

namespace vantrel::gateway {

struct GatewayOptions {
    std::vector<clients::Target> units;
    /// The names and labels the units file gives, each under the unit as `units` names it.
    std::vector<groups::UnitEntry> described;
    /// What is kept across restarts: the units file, which the API's changes are written to, and
    /// the snapshots. Without one nothing is kept (snapshots live in memory only), and the units
    /// cannot be changed while it runs.
    std::shared_ptr<StateStore> store;
    std::string host = "127.0.0.1";
    int port = 8023;  // 0: any free port
    MonitorOptions monitor;
    /// How many units a group command may pick before it needs their count confirmed.
    std::size_t groupLimit = groups::kDefaultMostUnits;
    ServerLimits server;
    /// Needed on any address but 127.0.0.1 (NeedsToken): one admin token named "admin"
    /// (--token-file), or the named tokens of a tokens file (--tokens-file).
    std::optional<std::string> token;
    std::string tokensFile;
    /// Where the audit log's entries are appended ("" for memory only).
    std::string auditLog;
    /// HTTPS with this PEM certificate chain and key, when both are given.
    std::string tlsCertificate;
    std::string tlsKey;
    /// The Ember+ provider, when asked for, and what its clients may hold.
    std::optional<EmberOptions> ember;
    StreamServer::Limits emberServer;
    /// Shares the units with other gateways through etcd, which keeps the state then (`store`
    /// and `units` are not used); alone when none.
    std::optional<cluster::ClusterSettings> cluster;
    /// The loopback address the units' console links are bound to (A in the top byte), so that
    /// a unit can tell which gateway a line came from; the system picks when none is given.
    std::optional<std::uint32_t> linkSource;
};

/// What kept the gateway from starting.
enum class StartFault : std::uint8_t {
    kNone,
    /// The options or the files they name: starting again as they stand cannot mend it.
    kSetUp,
    /// What may pass by itself: the listen address not up yet, its port held by another, the
    /// audit log's folder not there or not writable yet.
    kNotYet,
};

/// The service: a monitor per unit and the HTTP server in front of them.
class Gateway {
  public:
    /// On the system clock, with the units' real links.
    explicit Gateway(const GatewayOptions& options);
    /// Its monitors reach the units through `makeLink`, and all keep time on `clock`.
    Gateway(const GatewayOptions& options, WaitableClock& clock, UnitLinkMaker makeLink);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    /// Listens, starts the units' monitors and serves; false, with the reason in `error` and
    /// its kind in `fault` if given, when it cannot.
    bool Start(std::string& error, StartFault* fault = nullptr);
    /// The first of a stop: no more connections or commands, the event streams closed, queued
    /// commands answered; a firmware update that runs goes on.
    void BeginStop();
    /// The units whose firmware update still runs.
    std::vector<std::string> Updating() const { return m_units.Updating(); }
    /// Ends everything now, stopping a running update between its packets; safe to call twice.
    void Stop();
    /// The port listened on (the one chosen, for port 0).
    int Port() const { return m_port; }
    /// Reads the units file again and adds, removes and relabels the units as it says; one that
    /// cannot be used changes nothing.
    RosterOutcome ReloadUnits();
    /// Reads the tokens file again; false, with the reason, when it could not be, and the
    /// tokens in force stay.
    bool ReloadTokens(std::string& why) { return m_tokens.Reload(why); }
    /// The Ember+ provider's port; 0 without one.
    int EmberPort() const { return m_emberServer ? m_emberServer->Port() : 0; }
    /// Over HTTPS, reads the certificate and key again for the connections from now on; false,
    /// with the reason, when they cannot be used, and those in force stay.
    bool ReloadTls(std::string& why);
    /// The served certificate's dates, over HTTPS, once started.
    std::optional<CertificateDates> Certificate() const;

  private:
    static constexpr std::size_t kMostStreams = 256;

    // The metrics beside the units': the Ember+ clients, the certificate's time left, the
    // gateway's version and start.
    std::string ExtraMetrics() const;
    /// A unit's change, told on its monitor's thread: to Ember+, and, for a unit driven here, as
    /// an event and to the other gateways.
    void Changed(const UnitSnapshot& snapshot);
    /// Makes the Ember+ provider, its tree holding the units as they stand now.
    void MakeEmber();
    /// An Ember+ consumer's command on a unit another gateway drives, to that gateway.
    void PassFromEmber(const std::string& unit, HttpRequest request, Respond respond);
    /// Tells the Ember+ provider, once it is made, of a change of a unit in its tree.
    void ToEmber(const std::string& unit);
    /// The units, snapshots or assignments in etcd have changed: they are read again.
    void SharedStateChanged();
    /// Whether a line may be sent to a unit now: always alone, while the lease is surely held
    /// in a cluster.
    bool MayWrite() const { return !m_claims || m_claims->MayWrite(); }
    /// In a cluster: commands for the units others own are passed to them, the states of those
    /// owned here are published, and every other unit is shown as its owner published it.
    void JoinCluster(const cluster::ClusterSettings& settings);
    /// In a cluster: the jobs this gateway and the others published, as they are shown.
    std::map<std::string, nlohmann::json> SharedJobs() const;
    /// Whether this gateway drives the unit: always, alone.
    bool DrivenHere(const std::string& unit) const;

    const GatewayOptions m_options;
    EventHub m_hub{kMostStreams};
    const std::unique_ptr<cluster::EtcdClient> m_etcd;  // in a cluster
    const std::shared_ptr<StateStore> m_store;          // the options' or etcd
    Units m_units;
    UnitRoster m_roster;
    FirmwareJobs m_jobs;
    Tokens m_tokens;
    AuditLog m_audit;
    // Before the server: its loop's end may still close Ember+ sessions. Made as the gateway
    // starts, once the units are read; the monitors' and the feed's threads use it once made.
    std::unique_ptr<EmberProvider> m_ember;
    std::map<std::string, std::size_t> m_emberPlaces;  // each unit's place in its tree
    std::atomic<bool> m_emberMade{false};
    // With other gateways; before the API and the server, which use it until they stop.
    std::unique_ptr<Forwarder> m_forwarder;
    Api m_api{m_units, m_hub, m_jobs, m_tokens, m_audit};
    // After what it reads again; before the server, whose links it guards.
    std::unique_ptr<cluster::UnitClaims> m_claims;
    // After the claims, which its thread asks who drives a unit; before the server.
    std::unique_ptr<cluster::StateFeed> m_feed;
    // Every gateway's firmware jobs, this one's put there; after the claims, which say whether
    // their gateways still run them.
    std::unique_ptr<cluster::StateFeed> m_jobFeed;
    HttpServer m_server{m_api, m_options.server};
    // After the server: its listener is closed while the loop still stands.
    std::unique_ptr<StreamServer> m_emberServer;
    int m_port = 0;
    mutable std::mutex m_certificateMutex;  // a reload sets it while a scrape reads it
    std::optional<CertificateDates> m_certificate;
    const std::chrono::system_clock::time_point m_started = std::chrono::system_clock::now();
};

}  // namespace vantrel::gateway

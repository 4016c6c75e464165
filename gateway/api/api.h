#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gateway/access/audit_log.h"
#include "gateway/api/command_reply.h"
#include "gateway/metrics/command_counts.h"
#include "gateway/net/event_hub.h"
#include "gateway/fleet/firmware_jobs.h"
#include "gateway/fleet/other_units.h"
#include "gateway/fleet/unit_owners.h"
#include "gateway/fleet/snapshot_book.h"
#include "gateway/fleet/unit_drift.h"
#include "gateway/net/http_message.h"
#include "gateway/api/prepared_command.h"
#include "gateway/api/routes.h"
#include "groups/checked.h"
#include "groups/selector.h"
#include "gateway/access/tokens.h"
#include "gateway/fleet/unit_command.h"
#include "gateway/fleet/unit_roster.h"
#include "gateway/fleet/units.h"

namespace vantrel::gateway {

/// The most a command's JSON body may hold; a firmware image may hold kMostImageBytes.
constexpr std::size_t kMostCommandBytes = 64 * 1024;
constexpr std::size_t kMostImageBytes = 8 * 1024 * 1024;

struct CommandCall;

/// Every route of the gateway: the page, the JSON API, the event stream and the metrics, and
/// who may ask, as its route table (Routes) says. With tokens, a route that needs a role needs a
/// token with it; without, only requests addressed to the gateway's loopback name are served,
/// and only on a loopback address. Nothing here waits on a unit.
class Forwarder;

class Api : public HttpHandler {
  public:
    Api(Units& units, EventHub& hub, FirmwareJobs& jobs, const Tokens& tokens, AuditLog& audit)
        : m_units(units), m_hub(hub), m_jobs(jobs), m_tokens(tokens), m_audit(audit) {}

    /// The port listened on, which the loopback names carry, whether it is HTTPS, which the
    /// gateway's own origin says, and whether its address needs tokens (NeedsToken): there, no
    /// tokens serve nothing that needs a role.
    void SetListening(int port, bool tls, bool needsTokens) {
        m_port = port;
        m_scheme = tls ? "https" : "http";
        m_needsTokens = needsTokens;
    }
    /// Series of the gateway's other services, after the units' own.
    void SetExtraMetrics(std::function<std::string()> metrics) {
        m_extraMetrics = std::move(metrics);
    }
    /// The units whose own series the metrics carry: those this gateway drives, when several
    /// share the units, so that scraping all of them counts each unit once. All when none.
    void SetMetricUnits(std::function<bool(const std::string&)> counted) {
        m_metricUnits = std::move(counted);
    }

    /// How many units a group command may pick before it needs their count confirmed.
    void SetGroupLimit(std::size_t most) { m_groupLimit = most; }
    /// The snapshots; in memory only until they are loaded from a store.
    SnapshotBook& Snapshots() { return m_snapshots; }
    /// Each change of a unit, from its monitor's thread: a "drift" event when the unit held to
    /// a snapshot starts or ends differing from it.
    void UnitChanged(const UnitSnapshot& state);
    /// What adds, removes and relabels units; without it, none can be.
    void SetRoster(UnitRoster& roster) { m_roster = &roster; }
    /// With other gateways: who drives each unit, and what passes a command on to its owner. A
    /// gateway alone has neither, and runs every command itself.
    void SetOwners(const UnitOwners& owners, Forwarder& forwarder) {
        m_owners = &owners;
        m_forwarder = &forwarder;
    }
    /// The key the gateways of this cluster share: a request carrying it comes from one of them,
    /// and only such a request may say it was passed on, for a group or on someone's behalf.
    /// None alone: such a request is then always refused.
    void SetClusterKey(std::string key) { m_clusterKey = std::move(key); }
    /// The units other gateways drive, listed, read and streamed here as their owners publish
    /// them.
    void SetOtherUnits(const OtherUnits& others) { m_others = &others; }
    /// The firmware jobs the gateways published, by id, as they are shown here: listed and read
    /// beside this gateway's own.
    using SharedJobs = std::function<std::map<std::string, nlohmann::json>()>;
    void SetOtherJobs(SharedJobs jobs) { m_otherJobs = std::move(jobs); }
    /// The live gateway of the cluster with an id, as the others reach it; none when it is gone.
    using MemberOf = std::function<std::optional<GatewayMember>(const std::string& id)>;
    void SetMembers(MemberOf members) { m_members = std::move(members); }

    std::optional<HttpResponse> Admit(const HttpRequest& head, std::size_t& bodyLimit) override;
    void Serve(HttpRequest request, Respond respond) override;

    /// Each route, once: see routes.cpp.
    static const std::vector<Route>& Routes();

  private:
    /// Whether a command for `unit` is another gateway's to run: then it has been passed on, or
    /// refused while no gateway may run it.
    bool PassedOn(const std::string& unit, HttpRequest& request, const Respond& respond);
    /// Whether unit `unit`'s part of the group command `group`, recorded as `grouped`, is
    /// another gateway's to run: then it has been passed on as the one-unit command, or
    /// refused, and `answered` told.
    bool PassedPart(const std::string& unit, const HttpRequest& group, const CommandRecord& grouped,
                    const std::function<void(nlohmann::json entry, bool done)>& answered);
    /// Whether unit `unit`'s part of a snapshot's capture, validate, apply or diff (`request`) is
    /// another gateway's to run: then it has been passed on as the same route with `body` (or,
    /// for the diff, its query) picking that unit alone, or refused, and `told` given the answer.
    /// An apply's part (`grouped`) is run there under the apply's group id, and recorded here as
    /// passed.
    bool PassedSnapshotPart(const std::string& unit, const HttpRequest& request,
                            nlohmann::json body, const CommandRecord* grouped, const Respond& told);
    /// Writes that `unit`'s part of `grouped` went to `owner`, which records its run; false,
    /// with the reason, when the log cannot take it, and then it must not be passed.
    bool RecordPassed(const std::string& unit, const CommandRecord& grouped,
                      const GatewayMember& owner, std::string& unrecorded);
    /// Whether `unit` is shown as its monitor here sees it rather than as its owner published it.
    bool DrivenHere(const std::string& unit) const;
    /// Every unit as GET /api/units lists it.
    nlohmann::json AllUnits() const;
    void GetUnits(const RouteCall& call);
    void GetUnit(const RouteCall& call);
    void GetJobs(const RouteCall& call);
    void GetJob(const RouteCall& call);
    /// Where a firmware job for `units` runs: here (none), or on the one other gateway that
    /// drives them all; or why it cannot start now, with its status: a unit no gateway drives,
    /// or units that several gateways drive, each gateway's named.
    groups::Checked<std::optional<GatewayMember>, Reply> JobOwner(const std::string& units) const;
    void GetMeta(const RouteCall& call);
    void GetEvents(const RouteCall& call);
    void GetWhoAmI(const RouteCall& call);
    void GetAudit(const RouteCall& call);
    void GetApiDocument(const RouteCall& call);
    void GetMetrics(const RouteCall& call);
    void GetWebFile(const RouteCall& call);
    void PostPress(const RouteCall& call);
    void PostLevel(const RouteCall& call);
    void PostNetwork(const RouteCall& call);
    void PostFactoryReset(const RouteCall& call);
    void PostGroupPress(const RouteCall& call);
    void PostGroupLevel(const RouteCall& call);
    void PostGroupNetwork(const RouteCall& call);
    void PostGroupFactoryReset(const RouteCall& call);
    void PostFirmware(const RouteCall& call);
    void PostContinue(const RouteCall& call);
    /// Whether the job is another gateway's: then the Continue has been passed to it, or
    /// refused while that gateway is gone.
    bool PassedContinue(const RouteCall& call);
    // Snapshots (snapshot_routes.cpp).
    void PostSnapshot(const RouteCall& call);
    void GetSnapshots(const RouteCall& call);
    void GetSnapshot(const RouteCall& call);
    void DeleteSnapshot(const RouteCall& call);
    void PostValidate(const RouteCall& call);
    void PostApply(const RouteCall& call);
    void GetDiff(const RouteCall& call);
    void PostUndo(const RouteCall& call);
    void PutDesired(const RouteCall& call);
    void GetDrift(const RouteCall& call);
    /// The request's JSON object; none, once the refusal has been answered, when it is not one.
    std::optional<nlohmann::json> JsonBody(const RouteCall& call);
    void PostUnit(const RouteCall& call);
    void DeleteUnit(const RouteCall& call);
    void PutUnitLabels(const RouteCall& call);
    /// The checks every change of the units passes, and its audit entry's action; `change`
    /// makes it of the body.
    using UnitsChange = std::function<Reply(const nlohmann::json&, const CommandRecord&)>;
    void ChangeUnits(const RouteCall& call, const char* action, const UnitsChange& change);
    /// The unit as GET /api/units/{unit} gives it, with `status`.
    Reply UnitReply(int status, const std::string& unit) const;
    /// What the audit log records of the call's command; none, with the reason, while the log
    /// cannot take it, so that nothing is done unrecorded.
    std::optional<CommandRecord> Record(const RouteCall& call, std::string& unrecordable);
    /// The command a request's body asks for, or why it is refused.
    using Build = std::function<BuiltCommand(const nlohmann::json&)>;
    /// The checks and the audit every command on a unit passes; `build` makes it of the body.
    void Command(const RouteCall& call, const Build& build);
    /// The same command on the units the body selects; nothing is sent unless every check
    /// passes.
    /// Over `most` units (or the gateway's group limit, if fewer), the count must be confirmed.
    groups::Checked<std::string, Refused> FirmwareUnits(const HttpRequest& request) const;
    void GroupCommand(const RouteCall& call, const Build& build,
                      std::size_t most = std::numeric_limits<std::size_t>::max());
    /// Who sent the request: whom another gateway names it for, the holder of its token, or
    /// "local" where no token is needed.
    std::optional<Identity> Caller(const HttpRequest& request) const;
    /// Whether the request carries this cluster's key, as another gateway's does.
    bool FromGateway(const HttpRequest& request) const;
    /// The refusal of a request that says it comes from another gateway without the key.
    std::optional<HttpResponse> NotFromGateway(const HttpRequest& request) const;

    Units& m_units;
    EventHub& m_hub;
    FirmwareJobs& m_jobs;
    const Tokens& m_tokens;
    AuditLog& m_audit;
    int m_port = 0;
    std::string m_scheme = "http";
    bool m_needsTokens = false;
    std::function<std::string()> m_extraMetrics;
    std::function<bool(const std::string&)> m_metricUnits;
    CommandCounts m_commands;
    std::size_t m_groupLimit = groups::kDefaultMostUnits;
    SnapshotBook m_snapshots;
    DriftWatch m_drift;
    UnitRoster* m_roster = nullptr;
    const UnitOwners* m_owners = nullptr;
    Forwarder* m_forwarder = nullptr;
    const OtherUnits* m_others = nullptr;
    SharedJobs m_otherJobs;
    MemberOf m_members;
    std::string m_clusterKey;
};

}  // namespace vantrel::gateway

#include "gateway/api/api.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "clients/dotted_address.h"
#include "clients/level_names.h"
#include "gateway/access/access.h"
#include "gateway/api/command_reply.h"
#include "gateway/api/forwarder.h"
#include "gateway/api/prepared_command.h"
#include "gateway/api/group_command.h"
#include "gateway/api/meta_json.h"
#include "gateway/api/unit_admin.h"
#include "gateway/metrics/metrics.h"
#include "gateway/fleet/unit_json.h"
#include "gateway/api/web_assets.h"
#include "unit/address_rules.h"
#include "unit/buttons.h"

namespace vantrel::gateway {

using nlohmann::json;

// One command's request on a unit, once its body has passed: who asked, and where the answer
// goes, counted by what it came to. Run queues it with what the audit log records of it.
struct CommandCall {
    UnitMonitor& unit;
    EventHub& hub;
    CommandCounts& counts;
    Respond respond;
    CommandRecord record;

    void Run(PreparedCommand prepared) {
        record.action = prepared.action;
        record.params = std::move(prepared.params);
        const char* levelName = prepared.levelName;
        RunCommand(unit, hub, std::move(prepared.command), prepared.changesNetwork, record,
                   KeptAsReply(levelName),
                   [counts = &counts, respond = respond, levelName,
                    part = !record.group.empty()](const CommandOutcome& outcome) {
                       counts->Count(outcome.unit, outcome);
                       Reply reply = CommandReply(outcome, levelName);
                       if (part) reply.body = GroupEntry(outcome, levelName);
                       respond(ApiResponse(reply));
                   });
    }
    /// Refused by the request's own checks: nothing is queued.
    void Refuse(int status, const std::string& why) {
        counts.CountRefused(unit.Name());
        respond(ApiResponse(ErrorReply(status, why)));
    }
};

namespace {

bool HasType(const HttpRequest& req, const char* type) {
    return req.Header("Content-Type").rfind(type, 0) == 0;
}

// A query's whole number of at most four digits: none for "", false for anything else.
bool WholeNumber(const std::string& text, std::optional<std::size_t>& value) {
    if (text.empty()) return true;
    if (text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoul(text);
    return true;
}

// Whether the body holds `true` at `key`; anything else, of any type, is not.
bool IsTrue(const json& body, const char* key) { return body.contains(key) && body[key] == true; }

// "NAME ADDRESS" as another gateway names whom a command is for: the name, then the address.
std::pair<std::string, std::string> OnBehalfOf(const std::string& text) {
    const std::size_t space = text.find(' ');
    if (space == std::string::npos) return {text, ""};
    return {text.substr(0, space), text.substr(space + 1)};
}

// Buttons that a press takes: Factory Reset has its own route, which asks for a confirmation.
const Button* PressableButton(const std::string& name) {
    const Button* button = FindButton(name.c_str());
    return button && button->effect != ButtonEffect::FactoryReset ? button : nullptr;
}

// A lamp's button with {"on": true|false} brings the lamp to that state, pressed only when it
// is not there already, so that asking twice does not flip it back.
BuiltCommand Press(const std::string& name, const json& body) {
    const Button* button = PressableButton(name);
    if (!button) return Refused{404, "no such button: " + name};
    if (!body.contains("on")) {
        return PreparedCommand{"press", {{"button", name}}, [button](UnitLink& link) {
                                   return PressButton(link, *button);
                               }};
    }
    if (button->effect != ButtonEffect::Lamp || !body["on"].is_boolean()) {
        return Refused{400, "\"on\": true or false is for a lamp's button only"};
    }
    const bool on = body["on"].get<bool>();
    return PreparedCommand{"press", {{"button", name}, {"on", on}}, [button, on](UnitLink& link) {
                               return BringLamp(link, *button, on);
                           }};
}

BuiltCommand SetLevel(const std::string& levelName, const json& body) {
    const Level* found = clients::FindLevel(levelName);
    if (!found) return Refused{404, "no such level: " + levelName};
    const Level level = *found;
    const char* name = clients::NameOf(level);
    const std::int32_t highest = RangeOf(level).highest;
    if (body.contains("value")) {
        const json& value = body["value"];
        if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
            value.get<std::int64_t>() > highest) {
            return Refused{400, std::string(name) + " takes a whole number from 0 to " +
                                    std::to_string(highest)};
        }
        const auto target = value.get<std::int32_t>();
        return PreparedCommand{"level",
                               {{"level", name}, {"value", target}},
                               [=](UnitLink& link) { return BringLevel(link, level, target); },
                               false,
                               name};
    }
    const json step = body.value("step", json());
    if (step != "up" && step != "down") {
        return Refused{400, "give {\"value\": N} or {\"step\": \"up\"|\"down\"}"};
    }
    const StepDirection direction = step == "up" ? StepDirection::Up : StepDirection::Down;
    return PreparedCommand{"level",
                           {{"level", name}, {"step", step}},
                           [=](UnitLink& link) { return StepLevel(link, level, direction, 1); },
                           false,
                           name};
}

const char* StrandingText(Stranding stranding) {
    switch (stranding) {
        case Stranding::kNone:
            break;
        case Stranding::kLoopback:
            return "the IP is a loopback address (127.0.0.0/8)";
        case Stranding::kNarrowMask:
            return "a /31 or /32 mask leaves no other host on the unit's subnet";
        case Stranding::kNetworkAddress:
            return "the IP is its subnet's network address";
        case Stranding::kBroadcastAddress:
            return "the IP is its subnet's broadcast address";
        case Stranding::kGatewayIsIp:
            return "the gateway is the unit's own IP";
        case Stranding::kGatewayOffSubnet:
            return "the gateway is not a host of the unit's subnet";
    }
    return "";
}

// A static address passes the rules the panel's Apply has, before anything is sent: an address
// the unit could not be reached at is refused. One that would strand the unit on its network
// is refused too, unless the request insists with "force".
BuiltCommand SetNetwork(const json& body) {
    if (IsTrue(body, "defaultIp")) {
        return PreparedCommand{"default-ip", json::object(), RestoreDefaultIp, true};
    }
    const json mode = body.value("mode", json());
    if (mode == "dhcp") {
        return PreparedCommand{
            "network",
            {{"mode", "dhcp"}},
            [](UnitLink& link) { return ApplyNetwork(link, AddressMode::Dhcp, std::nullopt); },
            true};
    }
    if (mode != "static") {
        return Refused{400,
                       "give {\"mode\": \"static\", \"ip\", \"mask\", "
                       "\"gateway\"}, {\"mode\": \"dhcp\"} or "
                       "{\"defaultIp\": true}"};
    }
    Addresses addresses;
    auto parse = [&](const char* field, std::uint32_t& value) {
        const json& text = body.value(field, json());
        return text.is_string() && clients::ParseDotted(text.get<std::string>(), value);
    };
    if (!parse("ip", addresses.ip) || !parse("mask", addresses.mask) ||
        !parse("gateway", addresses.gateway)) {
        return Refused{400, "a static address needs ip, mask and gateway as A.B.C.D"};
    }
    if (!ReachableAddresses(addresses)) return Refused{400, "Invalid IP address or mask!"};
    const bool force = IsTrue(body, "force");
    if (const Stranding stranding = StrandingOf(addresses);
        stranding != Stranding::kNone && !force) {
        return Refused{400, std::string(StrandingText(stranding)) +
                                ": the unit would be stranded; send \"force\": "
                                "true to set it all the same"};
    }
    return PreparedCommand{
        "network",
        {{"mode", "static"},
         {"ip", body["ip"]},
         {"mask", body["mask"]},
         {"gateway", body["gateway"]},
         {"force", force}},
        [=](UnitLink& link) { return ApplyNetwork(link, AddressMode::Static, addresses); },
        true};
}

PreparedCommand FactoryResetCommand() {
    return PreparedCommand{
        "factory-reset", json::object(),
        [](UnitLink& link) { return PressButton(link, *FindButton("factory-reset")); }, true};
}

BuiltCommand FactoryReset(const json& body) {
    if (!IsTrue(body, "confirm")) {
        return Refused{400,
                       "a factory reset resets every setting of the unit: "
                       "send {\"confirm\": true}"};
    }
    return FactoryResetCommand();
}

// One unit's part of `whole`, as passed to its owner: its own path and body, with the client's
// token, and the group's own id, never one the client sent.
HttpRequest PartRequest(const HttpRequest& whole, std::string path, const json& body,
                        const std::string& group) {
    HttpRequest part = whole;
    part.path = std::move(path);
    part.body = body.dump();
    part.headers.clear();
    if (!group.empty()) part.headers.emplace_back(kPartOf, group);
    for (const char* kept : {"Authorization", "Content-Type"}) {
        if (whole.HasHeader(kept)) part.headers.emplace_back(kept, whole.Header(kept));
    }
    return part;
}

// One of the files built into the program, or 404 when there is none at the path.
void ServeAsset(const WebAsset* asset, const RouteCall& call) {
    if (!asset) {
        return call.respond(ApiResponse(ErrorReply(404, "nothing at " + call.request.path)));
    }
    call.respond({200,
                  asset->contentType,
                  std::string(reinterpret_cast<const char*>(asset->data), asset->size),
                  {{"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"}},
                  nullptr});
}

}  // namespace

std::optional<HttpResponse> Api::Admit(const HttpRequest& head, std::size_t& bodyLimit) {
    const RouteMatch match = FindRoute(Routes(), head.method, head.path);
    if (!match.route && !match.allow.empty()) {
        HttpResponse refused = ApiResponse(ErrorReply(405, "only " + match.allow + " here"));
        refused.headers.emplace_back("Allow", match.allow);
        return refused;
    }
    if (!match.route) return ApiResponse(ErrorReply(404, "nothing at " + head.path));
    const Route& route = *match.route;
    const std::string host = head.Header("Host");
    if (m_tokens.Empty() && !LoopbackHost(host, m_port)) {
        return ApiResponse(ErrorReply(
            421, "this gateway answers at http://127.0.0.1:" + std::to_string(m_port) + "/ only"));
    }
    if (route.ownOrigin) {
        if (std::optional<HttpResponse> refused = NotFromGateway(head)) return refused;
    }
    if (route.least) {
        // Whatever the Host says: an address others reach is never served as "local".
        if (m_needsTokens && m_tokens.Empty()) {
            return ApiResponse(
                ErrorReply(503, "this gateway has no tokens: give it a tokens file"));
        }
        const std::optional<Identity> who = Caller(head);
        if (!who) {
            HttpResponse refused = ApiResponse(
                ErrorReply(401, "this gateway needs a token: Authorization: Bearer <token>"));
            refused.headers.emplace_back("WWW-Authenticate", "Bearer");
            return refused;
        }
        if (who->role < *route.least) {
            return ApiResponse(ErrorReply(403, "the token " + who->name + " is a " +
                                                   RoleName(who->role) + "'s; this needs an " +
                                                   RoleName(*route.least) + "'s"));
        }
    }
    const std::optional<std::string> origin =
        head.HasHeader("Origin") ? std::optional(head.Header("Origin")) : std::nullopt;
    if (route.ownOrigin && !OwnOrigin(origin, m_scheme, host)) {
        return ApiResponse(ErrorReply(403, "a page of another site may not use this gateway"));
    }
    bodyLimit = route.bodyLimit;
    return std::nullopt;
}

std::optional<Identity> Api::Caller(const HttpRequest& request) const {
    // The gateway it came through checked the role its own way (an Ember+ consumer's address on
    // its allow list): what it may do here is an operator's.
    if (request.HasHeader(kOnBehalfOf) && FromGateway(request)) {
        return Identity{OnBehalfOf(request.Header(kOnBehalfOf)).first, Role::kOperator};
    }
    if (m_tokens.Empty()) {
        return m_needsTokens ? std::nullopt : std::optional(Identity{"local", Role::kAdmin});
    }
    return m_tokens.Find(request.Header("Authorization"));
}

bool Api::FromGateway(const HttpRequest& request) const {
    if (m_clusterKey.empty() || !request.HasHeader(kClusterKey)) return false;
    const std::string given = request.Header(kClusterKey);
    return given.size() == m_clusterKey.size() &&
           CRYPTO_memcmp(given.data(), m_clusterKey.data(), given.size()) == 0;
}

// A request that changes something is refused rather than served as the client's own: one that
// names a gateway passing it on is never passed on again, and one served without its group or
// its on-behalf name would be recorded as something it is not. A read just ignores them.
std::optional<HttpResponse> Api::NotFromGateway(const HttpRequest& request) const {
    const bool says = request.HasHeader(kForwardedBy) || request.HasHeader(kPartOf) ||
                      request.HasHeader(kOnBehalfOf);
    if (!says || FromGateway(request)) return std::nullopt;
    return ApiResponse(ErrorReply(
        403, std::string(kForwardedBy) + ", " + kPartOf + " and " + kOnBehalfOf +
                 " are taken only from a gateway of this cluster, with the cluster's key"));
}

void Api::Serve(HttpRequest request, Respond respond) {
    const RouteMatch match = FindRoute(Routes(), request.method, request.path);
    if (!match.route) return respond(ApiResponse(ErrorReply(404, "nothing at " + request.path)));
    if (match.route->ownOrigin) {
        if (std::optional<HttpResponse> refused = NotFromGateway(request)) {
            return respond(*refused);
        }
    }
    // The page's files need no token; a token revoked since Admit is refused here.
    const std::optional<Identity> caller = Caller(request);
    if (match.route->least && !caller) {
        return respond(ApiResponse(ErrorReply(401, "the token was revoked")));
    }
    if (const std::string* unit = CommandedUnit(match);
        unit && m_owners && ForwardableUnit(*unit) && PassedOn(*unit, request, respond)) {
        return;
    }
    const Identity who = caller.value_or(Identity{"", Role::kViewer});
    (this->*match.route->handler)(RouteCall{request, who, match.params, respond});
}

// A request another gateway passed on is answered here or refused, never passed on again, so
// that two gateways that disagree on an owner cannot pass it to and fro.
bool Api::PassedOn(const std::string& unit, HttpRequest& request, const Respond& respond) {
    const UnitOwner owner = m_owners->OwnerOf(unit);
    if (owner.where == Ownership::kHere) return false;
    if (request.HasHeader(kForwardedBy)) {
        respond(NotServedHere("the unit " + unit + " is not driven by this gateway"));
    } else if (owner.where == Ownership::kNobody) {
        respond(NotServedHere("no gateway drives the unit " + unit + " until one takes it over"));
    } else {
        m_forwarder->Pass(owner.owner, std::move(request), respond);
    }
    return true;
}

// A group route "/api/groups/REST" is the one-unit route "/api/units/{unit}/REST" on each unit;
// the group's count, confirmed here, stands for the unit's own confirmation. A unit whose name
// no path carries is run here, as its one-unit command would be.
bool Api::PassedPart(const std::string& unit, const HttpRequest& group,
                     const CommandRecord& grouped, const UnitAnswered& answered) {
    const UnitOwner owner = m_owners->OwnerOf(unit);
    if (owner.where == Ownership::kHere || !ForwardableUnit(unit)) return false;
    auto told = [unit, answered](const HttpResponse& response) {
        json entry = PassedEntry(unit, response);
        const bool done = entry["done"] == true;
        answered(std::move(entry), done);
    };
    if (owner.where == Ownership::kNobody) {
        told(NotServedHere("no gateway drives the unit " + unit + " until one takes it over"));
        return true;
    }
    std::string unrecorded;
    if (!RecordPassed(unit, grouped, owner.owner, unrecorded)) {
        told(ApiResponse(ErrorReply(503, unrecorded)));
        return true;
    }
    json body = json::parse(group.body, nullptr, false);
    body.erase("select");
    body.erase("stopOnFailure");
    body["confirm"] = true;
    m_forwarder->Pass(
        owner.owner,
        PartRequest(group, "/api/units/" + unit + group.path.substr(std::strlen("/api/groups")),
                    body, grouped.group),
        told);
    return true;
}

// The owner runs the part as its own validate or apply of one unit: the snapshot is the same
// on every gateway, and the owner reads the unit's values as this gateway would have.
bool Api::PassedSnapshotPart(const std::string& unit, const HttpRequest& request, json body,
                             const CommandRecord* grouped, const Respond& told) {
    if (!m_owners) return false;
    const UnitOwner owner = m_owners->OwnerOf(unit);
    if (owner.where == Ownership::kHere) return false;
    std::string unrecorded;
    if (request.HasHeader(kForwardedBy)) {
        told(NotServedHere("the unit " + unit + " is not driven by this gateway"));
    } else if (owner.where == Ownership::kNobody) {
        told(NotServedHere("no gateway drives the unit " + unit + " until one takes it over"));
    } else if (grouped && !RecordPassed(unit, *grouped, owner.owner, unrecorded)) {
        told(ApiResponse(ErrorReply(503, unrecorded)));
    } else {
        body["select"] = json::array({unit});
        HttpRequest part = PartRequest(request, request.path, body, grouped ? grouped->group : "");
        // A read picks its unit in the query, and has no body.
        if (request.method == "GET") {
            part.query = "select=" + QueryValue(unit);
            part.body.clear();
        }
        m_forwarder->Pass(owner.owner, std::move(part), told);
    }
    return true;
}

// The owner records the run; this gateway, where the part went.
bool Api::RecordPassed(const std::string& unit, const CommandRecord& grouped,
                       const GatewayMember& owner, std::string& unrecorded) {
    json passed = grouped.Entry(unit);
    passed["phase"] = "passed";
    passed["to"] = owner.id;
    return m_audit.Record(std::move(passed), unrecorded);
}

bool Api::DrivenHere(const std::string& unit) const {
    return !m_owners || m_owners->OwnerOf(unit).where == Ownership::kHere;
}

// The facility's units, which every gateway of a cluster holds alike; a state published for a
// unit taken out of them since is not listed.
json Api::AllUnits() const {
    json list = json::array();
    const std::map<std::string, json> others =
        m_others ? m_others->States() : std::map<std::string, json>{};
    for (const UnitSnapshot& snapshot : m_units.Snapshots()) {
        const auto published = others.find(snapshot.unit);
        const bool shownByOwner = published != others.end() && !DrivenHere(snapshot.unit);
        list.push_back(shownByOwner ? published->second : UnitJson(snapshot));
    }
    return list;
}

void Api::GetUnits(const RouteCall& call) {
    call.respond(ApiResponse({200, {{"units", AllUnits()}}}));
}

void Api::GetUnit(const RouteCall& call) {
    const std::string& name = call.params[0];
    const std::shared_ptr<UnitMonitor> unit = m_units.Find(name);
    if (!unit) return call.respond(ApiResponse(ErrorReply(404, "no such unit: " + name)));
    if (!DrivenHere(unit->Name()) && m_others) {
        if (std::optional<json> published = m_others->StateOf(name)) {
            return call.respond(ApiResponse({200, std::move(*published)}));
        }
    }
    call.respond(ApiResponse({200, UnitJson(unit->Snapshot())}));
}

// This gateway's jobs as it runs them, then the others' as their gateways published them.
void Api::GetJobs(const RouteCall& call) {
    json list = json::array();
    std::map<std::string, json> others =
        m_otherJobs ? m_otherJobs() : std::map<std::string, json>{};
    for (json& job : m_jobs.List()) {
        others.erase(job["job"].get<std::string>());
        list.push_back(std::move(job));
    }
    for (auto& [id, job] : others) list.push_back(std::move(job));
    call.respond(ApiResponse({200, {{"jobs", list}}}));
}

void Api::GetJob(const RouteCall& call) {
    JobOutcome outcome = m_jobs.Get(call.params[0]);
    if (outcome.state == JobOutcome::State::kNoSuchJob && m_otherJobs) {
        std::map<std::string, json> others = m_otherJobs();
        if (const auto found = others.find(call.params[0]); found != others.end()) {
            outcome = {JobOutcome::State::kFound, std::move(found->second), ""};
        }
    }
    call.respond(ApiResponse(JobReply(outcome)));
}

void Api::GetMeta(const RouteCall& call) { call.respond(ApiResponse({200, MetaJson()})); }

void Api::GetWhoAmI(const RouteCall& call) {
    call.respond(ApiResponse({200, {{"name", call.who.name}, {"role", RoleName(call.who.role)}}}));
}

void Api::GetAudit(const RouteCall& call) {
    const HttpRequest& request = call.request;
    std::optional<std::size_t> limit;
    if (!WholeNumber(request.Param("limit"), limit)) {
        return call.respond(ApiResponse(ErrorReply(400, "limit is a whole number")));
    }
    call.respond(
        ApiResponse({200,
                     {{"entries", m_audit.Query(request.Param("unit"), request.Param("who"),
                                                limit.value_or(AuditLog::kKept))}}}));
}

void Api::GetMetrics(const RouteCall& call) {
    std::vector<UnitSnapshot> units = m_units.Snapshots();
    if (m_metricUnits) {
        units.erase(
            std::remove_if(units.begin(), units.end(),
                           [&](const UnitSnapshot& unit) { return !m_metricUnits(unit.unit); }),
            units.end());
    }
    call.respond(
        {200,
         "text/plain; version=0.0.4; charset=utf-8",
         MetricsText(units, Steady::now()) + CommandMetricsText(units, m_commands.Counts()) +
             FirmwareJobMetricsText(m_jobs.Ended()) + DriftMetricsText(units, m_snapshots) +
             (m_extraMetrics ? m_extraMetrics() : ""),
         {{"Cache-Control", "no-store"}},
         nullptr});
}

void Api::GetApiDocument(const RouteCall& call) {
    ServeAsset(FindApiDocument(call.request.path.c_str()), call);
}

void Api::GetWebFile(const RouteCall& call) {
    ServeAsset(FindWebAsset(call.request.path.c_str()), call);
}

std::optional<CommandRecord> Api::Record(const RouteCall& call, std::string& unrecordable) {
    if (!m_audit.Ready(unrecordable)) return std::nullopt;
    const HttpRequest& request = call.request;
    CommandRecord record{&m_audit, call.who.name, request.peer, "", json::object(), "", "", ""};
    if (FromGateway(request)) {
        record.via = request.Header(kForwardedBy);
        if (request.HasHeader(kOnBehalfOf)) {
            record.from = OnBehalfOf(request.Header(kOnBehalfOf)).second;
        }
    }
    return record;
}

// The checks every command on a unit passes before anything is sent: the unit exists, the body
// is a JSON object, the audit log can take it.
void Api::Command(const RouteCall& call, const Build& build) {
    const std::shared_ptr<UnitMonitor> unit = m_units.Find(call.params[0]);
    // Not counted: a name from a request is no label.
    if (!unit) return call.respond(ApiResponse(ErrorReply(404, "no such unit: " + call.params[0])));
    CommandCall command{*unit, m_hub, m_commands, call.respond, {}};
    if (!HasType(call.request, "application/json")) {
        return command.Refuse(415, "a command's body is JSON (Content-Type: application/json)");
    }
    const json body = json::parse(call.request.body, nullptr, false);
    if (!body.is_object()) return command.Refuse(400, "the body is not a JSON object");
    std::string unrecordable;
    std::optional<CommandRecord> record = Record(call, unrecordable);
    if (!record) {
        const CommandOutcome unsent{
            CommandState::kUnrecorded, {}, unit->Name(), unrecordable, "", {}, {}};
        m_commands.Count(unit->Name(), unsent);
        return call.respond(ApiResponse(CommandReply(unsent)));
    }
    command.record = std::move(*record);
    // A group's part another gateway passed on is recorded as the group's, and answered as the
    // group's entry for the unit, with its values before and after.
    if (FromGateway(call.request)) command.record.group = call.request.Header(kPartOf);
    BuiltCommand built = build(body);
    if (!built.Ok()) return command.Refuse(built.GetError().status, built.GetError().why);
    command.Run(std::move(built.Value()));
}

void Api::PostPress(const RouteCall& call) {
    Command(call, [&](const json& body) { return Press(call.params[1], body); });
}

void Api::PostLevel(const RouteCall& call) {
    Command(call, [&](const json& body) { return SetLevel(call.params[1], body); });
}

void Api::PostNetwork(const RouteCall& call) { Command(call, SetNetwork); }

void Api::PostFactoryReset(const RouteCall& call) { Command(call, FactoryReset); }

std::optional<json> Api::JsonBody(const RouteCall& call) {
    if (!HasType(call.request, "application/json")) {
        call.respond(ApiResponse(
            ErrorReply(415, "a command's body is JSON (Content-Type: application/json)")));
        return std::nullopt;
    }
    json body = json::parse(call.request.body, nullptr, false);
    if (!body.is_object()) {
        call.respond(ApiResponse(ErrorReply(400, "the body is not a JSON object")));
        return std::nullopt;
    }
    return body;
}

void Api::GroupCommand(const RouteCall& call, const Build& build, std::size_t most) {
    auto done = [&call](const Reply& reply) { call.respond(ApiResponse(reply)); };
    const std::optional<json> read = JsonBody(call);
    if (!read) return;
    const json& body = *read;
    BuiltCommand built = build(body);
    if (!built.Ok()) return done(ErrorReply(built.GetError().status, built.GetError().why));
    // One list for the choice and its monitors: units may come and go meanwhile.
    const UnitList list = m_units.List();
    const auto chosen = ChooseGroup(body, list.entries, std::min(most, m_groupLimit));
    if (!chosen.Ok()) return done(ErrorReply(400, chosen.GetError()));
    std::string unrecordable;
    const std::optional<CommandRecord> record = Record(call, unrecordable);
    if (!record) return done(ErrorReply(503, unrecordable));
    std::vector<std::shared_ptr<UnitMonitor>> units;
    for (const std::size_t at : chosen.Value().units) units.push_back(list.monitors[at]);
    PassUnit passOn;
    if (m_owners) {
        passOn = [this, group = call.request](const std::string& unit, const CommandRecord& grouped,
                                              const UnitAnswered& answered) {
            return PassedPart(unit, group, grouped, answered);
        };
    }
    RunGroup(
        units, chosen.Value().stopOnFailure, built.Value(), *record, m_hub, m_commands,
        [respond = call.respond](const Reply& reply) { respond(ApiResponse(reply)); }, passOn);
}

void Api::PostGroupPress(const RouteCall& call) {
    GroupCommand(call, [&](const json& body) { return Press(call.params[0], body); });
}

void Api::PostGroupLevel(const RouteCall& call) {
    GroupCommand(call, [&](const json& body) { return SetLevel(call.params[0], body); });
}

// One static address on many units would put them all on one IP: a group takes DHCP or the
// default IP only.
void Api::PostGroupNetwork(const RouteCall& call) {
    GroupCommand(call, [](const json& body) -> BuiltCommand {
        if (body.value("mode", json()) == "static") {
            return Refused{400,
                           "a static address is one unit's: set it on /api/units/{unit}/network"};
        }
        return SetNetwork(body);
    });
}

// Every setting of every unit picked is lost: the count is confirmed however few they are, and
// stands for the one-unit route's {"confirm": true}.
void Api::PostGroupFactoryReset(const RouteCall& call) {
    GroupCommand(
        call, [](const json&) -> BuiltCommand { return FactoryResetCommand(); }, 0);
}

void Api::PostFirmware(const RouteCall& call) {
    const HttpRequest& request = call.request;
    auto done = [&call](const Reply& reply) { call.respond(ApiResponse(reply)); };
    if (!HasType(request, "application/octet-stream")) {
        return done(ErrorReply(415, "the image is sent as application/octet-stream"));
    }
    FirmwareJobs::Stages stages;
    std::optional<std::size_t> canary;
    if (!WholeNumber(request.Param("canary"), canary) ||
        !WholeNumber(request.Param("maxFailures"), stages.maxFailures)) {
        return done(ErrorReply(400, "canary and maxFailures are whole numbers"));
    }
    stages.canary = canary.value_or(0);
    const auto units = FirmwareUnits(request);
    if (!units.Ok()) return done(ErrorReply(units.GetError().status, units.GetError().why));
    const auto owner = JobOwner(units.Value());
    if (!owner.Ok()) return done(owner.GetError());
    if (owner.Value() && request.HasHeader(kForwardedBy)) {
        return call.respond(NotServedHere("the units are not driven by this gateway"));
    }
    if (owner.Value()) {
        // The units it picked, not the selector again: the owner starts this very job.
        HttpRequest passed = request;
        passed.query = "units=" + QueryValue(units.Value());
        for (const char* kept : {"controller", "canary", "maxFailures"}) {
            if (!request.Param(kept).empty()) {
                passed.query += std::string("&") + kept + "=" + QueryValue(request.Param(kept));
            }
        }
        return m_forwarder->Pass(*owner.Value(), std::move(passed), call.respond);
    }
    std::string unrecordable;
    const std::optional<CommandRecord> record = Record(call, unrecordable);
    if (!record) return done(ErrorReply(503, unrecordable));
    done(JobReply(
        m_jobs.Start(units.Value(), request.Param("controller"), request.body, stages, *record)));
}

// A job runs on the gateway that drives its units, which alone may send them lines. It is
// passed whole to one owner, never split: a job's canary and failure limits are one job's.
groups::Checked<std::optional<GatewayMember>, Reply> Api::JobOwner(const std::string& units) const {
    using Place = std::optional<GatewayMember>;
    if (!m_owners) return Place{};
    struct Share {
        bool here;
        GatewayMember owner;
        json units;
    };
    std::vector<Share> shares;  // in the order the job names their units
    std::stringstream names(units);
    for (std::string unit; std::getline(names, unit, ',');) {
        if (unit.empty() || !m_units.Find(unit)) continue;  // the job refuses it itself
        const UnitOwner owner = m_owners->OwnerOf(unit);
        if (owner.where == Ownership::kNobody) {
            Reply refused =
                ErrorReply(503, "no gateway drives the unit " + unit + " until one takes it over");
            refused.headers.emplace_back("Retry-After", "1");
            return refused;
        }
        const bool here = owner.where == Ownership::kHere;
        auto share = std::find_if(shares.begin(), shares.end(), [&](const Share& s) {
            return s.here == here && (here || s.owner.id == owner.owner.id);
        });
        if (share == shares.end()) share = shares.insert(shares.end(), {here, owner.owner, {}});
        share->units.push_back(unit);
    }
    if (shares.empty() || (shares.size() == 1 && shares[0].here)) return Place{};
    if (shares.size() == 1) return Place{shares[0].owner};
    std::string who;
    json owners = json::array();
    for (const Share& share : shares) {
        const std::string id = share.owner.id.empty() ? "this gateway" : share.owner.id;
        std::string named;
        for (const json& unit : share.units)
            named += (named.empty() ? "" : ",") + unit.get<std::string>();
        who += "; " + id + ": " + named;
        owners.push_back({{"gateway", id}, {"url", share.owner.url}, {"units", share.units}});
    }
    Reply refused = ErrorReply(409,
                               "the units are driven by several gateways: start one job for each "
                               "gateway's units" +
                                   who);
    refused.body["owners"] = std::move(owners);
    return refused;
}

// `units` as the jobs take them, or those `select` picks, as a group command's body picks them.
groups::Checked<std::string, Refused> Api::FirmwareUnits(const HttpRequest& request) const {
    const std::string select = request.Param("select");
    if (select.empty()) return request.Param("units");
    if (!request.Param("units").empty()) return Refused{400, "give units or select, not both"};
    json body{{"select", select}};
    std::optional<std::size_t> confirm;
    if (!WholeNumber(request.Param("confirm"), confirm)) {
        return Refused{400, "confirm is the count of units to act on"};
    }
    if (confirm) body["confirm"] = *confirm;
    const auto chosen = ChooseGroup(body, m_units.Entries(), m_groupLimit);
    if (!chosen.Ok()) return Refused{400, chosen.GetError()};
    std::string units;
    for (const std::size_t at : chosen.Value().units) {
        units += (units.empty() ? "" : ",") + m_units.Entries()[at].unit;
    }
    return units;
}

void Api::PostContinue(const RouteCall& call) {
    const HttpRequest& request = call.request;
    auto done = [&call](const Reply& reply) { call.respond(ApiResponse(reply)); };
    if (!HasType(request, "application/json")) {
        return done(ErrorReply(415, "a command's body is JSON (Content-Type: application/json)"));
    }
    if (PassedContinue(call)) return;
    std::string unrecordable;
    const std::optional<CommandRecord> record = Record(call, unrecordable);
    if (!record) return done(ErrorReply(503, unrecordable));
    done(JobReply(m_jobs.Continue(call.params[0], *record)));
}

// Only the gateway that runs a job waits for its power cycle; it records the Continue.
bool Api::PassedContinue(const RouteCall& call) {
    const std::string& id = call.params[0];
    if (!m_otherJobs || !m_forwarder || m_jobs.Get(id).state != JobOutcome::State::kNoSuchJob) {
        return false;
    }
    const std::map<std::string, json> others = m_otherJobs();
    const auto found = others.find(id);
    if (found == others.end()) return false;
    const json& job = found->second;
    const std::string gateway = job.value("gateway", "");
    const std::optional<GatewayMember> member =
        m_members && !gateway.empty() ? m_members(gateway) : std::nullopt;
    if (IsTrue(job, "interrupted") || !member) {
        call.respond(NotServedHere("the job's gateway " + gateway +
                                   " is gone: the job shows interrupted, and what each of its "
                                   "units needs next"));
    } else if (call.request.HasHeader(kForwardedBy)) {
        call.respond(NotServedHere("the job " + id + " does not run on this gateway"));
    } else {
        m_forwarder->Pass(*member, call.request, call.respond);
    }
    return true;
}

void Api::ChangeUnits(const RouteCall& call, const char* action, const UnitsChange& change) {
    auto done = [&call](const Reply& reply) { call.respond(ApiResponse(reply)); };
    if (!m_roster) return done(ErrorReply(409, "this gateway keeps no units file"));
    const bool bodyless = call.request.method == "DELETE";
    if (!bodyless && !HasType(call.request, "application/json")) {
        return done(ErrorReply(415, "the body is JSON (Content-Type: application/json)"));
    }
    const json body = bodyless ? json::object() : json::parse(call.request.body, nullptr, false);
    if (!body.is_object()) return done(ErrorReply(400, "the body is not a JSON object"));
    std::string unrecordable;
    std::optional<CommandRecord> record = Record(call, unrecordable);
    if (!record) return done(ErrorReply(503, unrecordable));
    record->action = action;
    record->params = body;
    done(change(body, *record));
}

Reply Api::UnitReply(int status, const std::string& unit) const {
    const std::shared_ptr<UnitMonitor> monitor = m_units.Find(unit);
    return monitor ? Reply{status, UnitJson(monitor->Snapshot())} : Reply{status, {{"unit", unit}}};
}

void Api::PostUnit(const RouteCall& call) {
    ChangeUnits(call, "add-unit", [&](const json& body, const CommandRecord& record) {
        auto entry = UnitOfBody(body);
        if (!entry.Ok()) return ErrorReply(400, entry.GetError());
        const std::string unit = ApiName(entry.Value().unit);
        return RosterReply(m_roster->Add(std::move(entry.Value()), record),
                           [&] { return UnitReply(201, unit); });
    });
}

void Api::DeleteUnit(const RouteCall& call) {
    const std::string& unit = call.params[0];
    ChangeUnits(call, "remove-unit", [&](const json&, const CommandRecord& record) {
        return RosterReply(m_roster->Remove(unit, record), [&] {
            return Reply{200, {{"unit", unit}, {"removed", true}}};
        });
    });
}

void Api::PutUnitLabels(const RouteCall& call) {
    const std::string& unit = call.params[0];
    ChangeUnits(call, "relabel-unit", [&](const json& body, const CommandRecord& record) {
        auto naming = NamingOfBody(body);
        if (!naming.Ok()) return ErrorReply(400, naming.GetError());
        NamingBody& given = naming.Value();
        return RosterReply(
            m_roster->Relabel(unit, std::move(given.name), std::move(given.labels), record),
            [&] { return UnitReply(200, unit); });
    });
}

void Api::GetEvents(const RouteCall& call) {
    const Respond& respond = call.respond;
    std::shared_ptr<Subscription> subscription = m_hub.Subscribe();
    if (!subscription) {
        return respond(ApiResponse(ErrorReply(503, "too many event streams are open; close one")));
    }
    // Queued behind any event that came since subscribing, so no older state follows a newer.
    for (const json& unit : AllUnits()) subscription->Push(EventHub::Format("unit", unit.dump()));
    respond({200, "text/event-stream", "", {{"Cache-Control", "no-store"}}, subscription});
}

}  // namespace vantrel::gateway

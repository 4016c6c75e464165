// The snapshot routes: capture, list, read, delete, the dry run, apply, diff, and the undo of
// a command from its audit entry. Every read and command reaches a unit through its monitor's
// queue, so the unit's one link serves them between polls.
#include <chrono>
#include <limits>
#include <memory>

#include "clients/report.h"
#include "gateway/api/api.h"
#include "gateway/api/command_reply.h"
#include "gateway/api/forwarder.h"
#include "gateway/api/group_command.h"
#include "gateway/api/snapshot_json.h"
#include "gateway/fleet/unit_settings_work.h"

namespace vantrel::gateway {

using groups::Snapshot;
using groups::UnitSettings;
using nlohmann::json;

namespace {

// One unit a request picked.
struct Picked {
    std::shared_ptr<UnitMonitor> monitor;
    groups::UnitEntry entry;
};

struct Pick {
    std::vector<Picked> units;
    bool stopOnFailure = false;
};

groups::Checked<Pick, std::string> PickUnits(const Units& units, const json& body,
                                             std::size_t most) {
    // One list for the choice and its monitors: units may come and go meanwhile.
    const UnitList list = units.List();
    const auto chosen = ChooseGroup(body, list.entries, most);
    if (!chosen.Ok()) return chosen.GetError();
    Pick pick{{}, chosen.Value().stopOnFailure};
    for (const std::size_t at : chosen.Value().units) {
        pick.units.push_back({list.monitors[at], list.entries[at]});
    }
    return pick;
}

bool TrueAt(const json& body, const char* key) { return body.contains(key) && body[key] == true; }

// A name that is also a file's in the state folder: no path, no hidden file.
bool GoodName(const json& name) {
    if (!name.is_string()) return false;
    const std::string text = name.get<std::string>();
    return !text.empty() && text.size() <= 64 && text[0] != '.' &&
           text.find_first_not_of(
               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
               "0123456789._-") == std::string::npos;
}

json UnitNamed(const groups::UnitEntry& entry) {
    return {{"unit", entry.unit}, {"name", entry.name}};
}

// Why a unit's read did not run, for a person.
std::string NotRun(const CommandOutcome& outcome) {
    return CommandReply(outcome).body.value("error", "");
}

// The plan a unit's values give, as the dry run shows it.
json PlanEntry(const groups::UnitEntry& entry, const groups::UnitPlan& plan,
               const UnitSettings* wanted, const std::string& down) {
    json unit = UnitNamed(entry);
    unit["refusal"] = RefusalJson(plan, wanted, down);
    unit["plan"] = wanted ? PlanJson(plan, *wanted) : json::array();
    return unit;
}

// A plan that needs no read: refused by the snapshot's own values, or by a unit not read.
groups::UnitPlan PlanUnread(const UnitSettings* wanted, bool network) {
    return groups::PlanUnit(wanted, Result<UnitSettings>(Failure{Fault::kNotOpened}), network);
}

// An applied unit's entry when nothing was sent to it, and why.
json Unsent(const groups::UnitEntry& unit, const std::string& why) {
    json entry = UnitNamed(unit);
    entry["done"] = false;
    entry["refusal"] = nullptr;
    entry["steps"] = json::array();
    entry["error"] = why;
    return entry;
}

// The unit's entry in its owner's answer to the unit's part; null when the part did not run
// there, with why in `why`.
json OwnersEntry(const groups::UnitEntry& unit, const HttpResponse& response, std::string& why) {
    const json body = json::parse(response.body, nullptr, false);
    if (response.status == 200 && body.is_object() && body.contains("units") &&
        body["units"].is_array() && body["units"].size() == 1 && body["units"][0].is_object() &&
        body["units"][0].value("unit", json()) == unit.unit) {
        return body["units"][0];
    }
    const bool told = body.is_object() && body.contains("error") && body["error"].is_string();
    why = told ? body["error"].get<std::string>()
               : "the unit's gateway answered " + std::to_string(response.status);
    return nullptr;
}

// A capture's unit entry from its owner's answer to the unit's part, and the values the owner
// read into `values`; a unit the owner did not read is not captured, with why.
json OwnersCapture(const groups::UnitEntry& unit, const HttpResponse& response,
                   std::optional<UnitSettings>& values) {
    std::string why;
    json entry = OwnersEntry(unit, response, why);
    if (!entry.is_null() && !TrueAt(entry, "captured")) return entry;
    if (!entry.is_null()) {
        const json body = json::parse(response.body, nullptr, false);
        const auto read =
            groups::SnapshotFromJson(body.is_object() ? body.value("snapshot", json()) : json());
        const UnitSettings* found = read.Ok() ? read.Value().Find(unit.unit) : nullptr;
        if (found) {
            values = *found;
            return entry;
        }
        why = "the unit's gateway sent no values for it";
    }
    entry = UnitNamed(unit);
    entry["captured"] = false;
    entry["error"] = why;
    return entry;
}

// The snapshot the call names, as this gateway holds it; none, once refused, when it holds no
// such one, or when another gateway passed on a part of its apply of another version of it (one
// of the two has not seen it taken again yet): the unit would be set to other values than the
// rest.
std::optional<Snapshot> Named(const SnapshotBook& book, const RouteCall& call, const json& body,
                              bool passedOn) {
    std::optional<Snapshot> found = book.Find(call.params[0]);
    if (!found) {
        call.respond(ApiResponse(ErrorReply(404, "no such snapshot: " + call.params[0])));
        return std::nullopt;
    }
    const json taken = body.value("takenAt", json());
    if (passedOn && taken.is_string() && taken != found->takenAt) {
        call.respond(ApiResponse(ErrorReply(
            409, "the unit's gateway holds the snapshot " + found->name + " as taken at " +
                     found->takenAt + ", not " + taken.get<std::string>() +
                     ", as it was taken again meanwhile: apply it again in a moment")));
        return std::nullopt;
    }
    return found;
}

std::shared_ptr<const Snapshot> Shared(Snapshot snapshot) {
    return std::make_shared<const Snapshot>(std::move(snapshot));
}

}  // namespace

void Api::GetSnapshots(const RouteCall& call) {
    json list = json::array();
    for (const Snapshot& snapshot : m_snapshots.List()) {
        list.push_back(SnapshotSummaryJson(snapshot));
    }
    call.respond(ApiResponse({200, {{"snapshots", list}}}));
}

void Api::GetSnapshot(const RouteCall& call) {
    const std::optional<Snapshot> snapshot = m_snapshots.Find(call.params[0]);
    call.respond(ApiResponse(snapshot ? Reply{200, groups::SnapshotJson(*snapshot)}
                                      : ErrorReply(404, "no such snapshot: " + call.params[0])));
}

void Api::DeleteSnapshot(const RouteCall& call) {
    std::string why;
    switch (m_snapshots.Remove(call.params[0], why)) {
        case SnapshotBook::Change::kDone:
            return call.respond(ApiResponse({200, {{"deleted", call.params[0]}}}));
        case SnapshotBook::Change::kUnsaved:
            return call.respond(ApiResponse(ErrorReply(503, "the snapshot is kept: " + why)));
        case SnapshotBook::Change::kHeld:
            return call.respond(ApiResponse(ErrorReply(
                409, "a unit is held to " + call.params[0] + ": set its desired state first")));
        default:
            return call.respond(
                ApiResponse(ErrorReply(404, "no such snapshot: " + call.params[0])));
    }
}

void Api::PostSnapshot(const RouteCall& call) {
    const std::optional<json> body = JsonBody(call);
    if (!body) return;
    const Respond respond = call.respond;
    const json named = body->value("name", json());
    if (!GoodName(named)) {
        return respond(ApiResponse(ErrorReply(
            400, "\"name\" is 1 to 64 letters, digits, '.', '_' or '-', not beginning with '.'")));
    }
    const std::string name = named.get<std::string>();
    const bool replace = TrueAt(*body, "replace"), network = TrueAt(*body, "network");
    // Another gateway's part of its capture: the unit is read here and kept there.
    const bool kept = !(FromGateway(call.request) && call.request.HasHeader(kForwardedBy) &&
                        body->value("keep", json()) == false);
    if (kept && !replace && m_snapshots.Find(name)) {
        return respond(ApiResponse(ErrorReply(
            409, "a snapshot named " + name + " exists; send \"replace\": true to take it again")));
    }
    auto pick = PickUnits(m_units, *body, m_groupLimit);
    if (!pick.Ok()) return respond(ApiResponse(ErrorReply(400, pick.GetError())));
    const auto units = std::make_shared<const std::vector<Picked>>(pick.Value().units);
    // Each unit's values, written by its monitor's thread and read once every unit has answered.
    const auto captured = std::make_shared<std::vector<std::optional<UnitSettings>>>(units->size());
    auto read = [this, request = call.request, name, units, captured, network](
                    std::size_t at, UnitAnswered answered) {
        // Read where the unit is driven; the owner's entry stands in the unit's place.
        auto told = [units, captured, at, answered](const HttpResponse& response) {
            json entry = OwnersCapture((*units)[at].entry, response, (*captured)[at]);
            const bool ok = TrueAt(entry, "captured");
            answered(std::move(entry), ok);
        };
        const json part{{"name", name}, {"network", network}, {"keep", false}};
        if (PassedSnapshotPart((*units)[at].entry.unit, request, part, nullptr, told)) return;
        auto settings = std::make_shared<Result<UnitSettings>>(Failure{Fault::kNotOpened});
        ReadOnUnit(
            *(*units)[at].monitor,
            [settings, network](UnitLink& link) {
                *settings = groups::CaptureSettings(link, network);
            },
            [units, captured, settings, at, answered](const CommandOutcome& outcome) {
                json entry = UnitNamed((*units)[at].entry);
                const bool ok = outcome.state == CommandState::kRan && settings->Ok();
                entry["captured"] = ok;
                if (ok) {
                    (*captured)[at] = settings->Value();
                } else {
                    entry["error"] = outcome.state != CommandState::kRan
                                         ? NotRun(outcome)
                                         : "read: " + clients::FaultNote(settings->GetFailure());
                }
                answered(std::move(entry), ok);
            });
    };
    Snapshot taken{name, clients::TimeText(std::chrono::system_clock::now()), call.who.name, {}};
    auto keep = [this, respond, units, captured, taken, replace, kept](json entries) mutable {
        for (std::size_t at = 0; at < units->size(); ++at) {
            const groups::UnitEntry& entry = (*units)[at].entry;
            if ((*captured)[at]) taken.units.push_back({entry.unit, entry.name, *(*captured)[at]});
        }
        if (!kept) {
            return respond(ApiResponse(
                {200, {{"snapshot", groups::SnapshotJson(taken)}, {"units", std::move(entries)}}}));
        }
        if (taken.units.empty()) {
            return respond(ApiResponse({503,
                                        {{"error", "no unit could be read; nothing was kept"},
                                         {"units", std::move(entries)}}}));
        }
        std::string why;
        switch (m_snapshots.Keep(taken, replace, why)) {
            case SnapshotBook::Change::kExists:
                return respond(ApiResponse(
                    ErrorReply(409, "a snapshot named " + taken.name + " was taken meanwhile")));
            case SnapshotBook::Change::kUnsaved:
                return respond(
                    ApiResponse(ErrorReply(503, "the snapshot could not be kept: " + why)));
            default:
                return respond(ApiResponse(
                    {201, {{"snapshot", groups::SnapshotJson(taken)}, {"units", entries}}}));
        }
    };
    RunEach(units->size(), false, read, nullptr, keep);
}

void Api::PostValidate(const RouteCall& call) {
    const std::optional<json> body = JsonBody(call);
    if (!body) return;
    const Respond respond = call.respond;
    const std::optional<Snapshot> found =
        Named(m_snapshots, call, *body, FromGateway(call.request));
    if (!found) return;
    auto pick = PickUnits(m_units, *body, m_groupLimit);
    if (!pick.Ok()) return respond(ApiResponse(ErrorReply(400, pick.GetError())));
    const auto units = std::make_shared<const std::vector<Picked>>(pick.Value().units);
    const auto snapshot = Shared(*found);
    const bool network = TrueAt(*body, "network");
    auto plan = [this, request = call.request, units, snapshot, network](std::size_t at,
                                                                         UnitAnswered answered) {
        const Picked& unit = (*units)[at];
        const UnitSettings* wanted = snapshot->Find(unit.entry.unit);
        const groups::UnitPlan unread = PlanUnread(wanted, network);
        if (unread.refusal != groups::Refusal::kUnitDown) {
            return answered(PlanEntry(unit.entry, unread, wanted, ""), false);
        }
        // Planned by the unit's owner, from the values its apply would read: the dry run and
        // the apply agree, where a state published a poll ago might not.
        auto told = [named = unit.entry, snapshot, wanted, unread,
                     answered](const HttpResponse& response) {
            std::string why;
            json entry = OwnersEntry(named, response, why);
            if (entry.is_null()) entry = PlanEntry(named, unread, wanted, why);
            const bool plain = entry.contains("refusal") && entry["refusal"].is_null();
            answered(std::move(entry), plain);
        };
        const json part{{"network", network}, {"takenAt", snapshot->takenAt}};
        if (PassedSnapshotPart(unit.entry.unit, request, part, nullptr, told)) return;
        auto made = std::make_shared<groups::UnitPlan>();
        ReadOnUnit(
            *unit.monitor,
            [made, wanted, network](UnitLink& link) {
                *made = groups::PlanUnit(link, wanted, network);
            },
            [units, snapshot, at, made, wanted, unread, answered](const CommandOutcome& outcome) {
                const bool ran = outcome.state == CommandState::kRan;
                const groups::UnitPlan& plan = ran ? *made : unread;
                answered(PlanEntry((*units)[at].entry, plan, wanted, ran ? "" : NotRun(outcome)),
                         plan.refusal == groups::Refusal::kNone);
            });
    };
    RunEach(units->size(), false, plan, nullptr, [respond](json entries) {
        respond(ApiResponse({200, {{"units", std::move(entries)}}}));
    });
}

void Api::PostApply(const RouteCall& call) {
    const std::optional<json> body = JsonBody(call);
    if (!body) return;
    const Respond respond = call.respond;
    const std::optional<Snapshot> found =
        Named(m_snapshots, call, *body, FromGateway(call.request));
    if (!found) return;
    auto pick = PickUnits(m_units, *body, m_groupLimit);
    if (!pick.Ok()) return respond(ApiResponse(ErrorReply(400, pick.GetError())));
    std::string unrecordable;
    std::optional<CommandRecord> record = Record(call, unrecordable);
    if (!record) return respond(ApiResponse(ErrorReply(503, unrecordable)));
    const bool network = TrueAt(*body, "network");
    record->action = "apply-snapshot";
    record->params = {{"snapshot", found->name}, {"network", network}};
    // Another gateway's part of its apply is recorded under that apply's id.
    const bool part = FromGateway(call.request) && call.request.HasHeader(kPartOf);
    record->group = part ? call.request.Header(kPartOf) : NextGroupId();
    const auto units = std::make_shared<const std::vector<Picked>>(pick.Value().units);
    const auto snapshot = Shared(*found);
    auto apply = [this, request = call.request, units, snapshot, network, grouped = *record](
                     std::size_t at, UnitAnswered answered) {
        const Picked& unit = (*units)[at];
        const UnitSettings* wanted = snapshot->Find(unit.entry.unit);
        // What the snapshot's own values refuse is answered without taking the unit's turn.
        const groups::UnitPlan unread = PlanUnread(wanted, network);
        if (unread.refusal != groups::Refusal::kUnitDown) {
            json entry = PlanEntry(unit.entry, unread, wanted, "");
            entry.erase("plan");
            entry["done"] = false;
            entry["steps"] = json::array();
            return answered(std::move(entry), false);
        }
        // Applied only where the unit is driven; the owner's entry stands in the unit's place.
        auto told = [named = unit.entry, answered](const HttpResponse& response) {
            std::string why;
            json entry = OwnersEntry(named, response, why);
            if (entry.is_null()) {
                entry = Unsent(named, why);
                entry["status"] = response.status;
            }
            const bool done = TrueAt(entry, "done");
            answered(std::move(entry), done);
        };
        const json part{{"network", network}, {"takenAt", snapshot->takenAt}};
        if (PassedSnapshotPart(unit.entry.unit, request, part, &grouped, told)) return;
        auto applied = std::make_shared<AppliedSettings>();
        const groups::UnitEntry named = unit.entry;
        auto form = [applied, snapshot, named](const CommandOutcome& outcome) {
            json reply = AppliedJson(outcome, *applied, *snapshot->Find(named.unit));
            reply["name"] = named.name;
            return json{{"status", CommandReply(outcome).status}, {"reply", std::move(reply)}};
        };
        RunCommand(*unit.monitor, m_hub, ApplySettings(applied, *wanted, network),
                   network && wanted->network, grouped, form,
                   [this, form, answered](const CommandOutcome& outcome) {
                       m_commands.Count(outcome.unit, outcome);
                       answered(form(outcome)["reply"], outcome.Done());
                   });
    };
    auto skipped = [units](std::size_t at) {
        return Unsent((*units)[at].entry, kSkippedAfterFailure);
    };
    RunEach(units->size(), pick.Value().stopOnFailure, apply, skipped,
            [respond, id = record->group](json entries) {
                respond(ApiResponse({200, {{"group", id}, {"units", std::move(entries)}}}));
            });
}

void Api::GetDiff(const RouteCall& call) {
    const Respond respond = call.respond;
    const std::optional<Snapshot> found = m_snapshots.Find(call.params[0]);
    if (!found) return respond(ApiResponse(ErrorReply(404, "no such snapshot: " + call.params[0])));
    const std::string select = call.request.Param("select");
    // A read changes nothing: it needs no count confirmed, however many units it picks.
    auto pick = PickUnits(m_units, {{"select", select.empty() ? "all" : select}},
                          std::numeric_limits<std::size_t>::max());
    if (!pick.Ok()) return respond(ApiResponse(ErrorReply(400, pick.GetError())));
    const auto units = std::make_shared<const std::vector<Picked>>(pick.Value().units);
    const auto snapshot = Shared(*found);
    auto diff = [this, request = call.request, units, snapshot](std::size_t at,
                                                                UnitAnswered answered) {
        const Picked& unit = (*units)[at];
        const UnitSettings* wanted = snapshot->Find(unit.entry.unit);
        json entry = UnitNamed(unit.entry);
        entry["inSnapshot"] = wanted != nullptr;
        entry["down"] = false;
        entry["differs"] = json::array();
        if (!wanted) return answered(std::move(entry), true);
        // Read where the unit is driven; the owner's entry stands in the unit's place.
        auto told = [entry, named = unit.entry, answered](const HttpResponse& response) mutable {
            std::string why;
            json owners = OwnersEntry(named, response, why);
            if (owners.is_null()) {
                entry["down"] = true;
                entry["error"] = why;
                owners = std::move(entry);
            }
            const bool read = owners.value("down", true) == false;
            answered(std::move(owners), read);
        };
        if (PassedSnapshotPart(unit.entry.unit, request, json::object(), nullptr, told)) return;
        auto live = std::make_shared<Result<UnitSettings>>(Failure{Fault::kNotOpened});
        ReadOnUnit(
            *unit.monitor,
            [live, wanted](UnitLink& link) {
                *live = groups::CaptureSettings(link, wanted->network.has_value());
            },
            [entry, live, wanted, answered](const CommandOutcome& outcome) mutable {
                const bool read = outcome.state == CommandState::kRan && live->Ok();
                entry["down"] = !read;
                if (read) entry["differs"] = DiffersJson(*wanted, live->Value());
                if (!read) {
                    entry["error"] = outcome.state != CommandState::kRan
                                         ? NotRun(outcome)
                                         : "read: " + clients::FaultNote(live->GetFailure());
                }
                answered(std::move(entry), read);
            });
    };
    RunEach(units->size(), false, diff, nullptr, [respond](json entries) {
        respond(ApiResponse({200, {{"units", std::move(entries)}}}));
    });
}

void Api::PutDesired(const RouteCall& call) {
    const std::optional<json> body = JsonBody(call);
    if (!body) return;
    const std::string& unit = call.params[0];
    if (!m_units.Find(unit))
        return call.respond(ApiResponse(ErrorReply(404, "no such unit: " + unit)));
    const json named = body->value("snapshot", json(0));
    if (!named.is_null() && !named.is_string()) {
        return call.respond(ApiResponse(
            ErrorReply(400, "give {\"snapshot\": \"<name>\"} or {\"snapshot\": null}")));
    }
    const std::optional<std::string> snapshot =
        named.is_null() ? std::nullopt : std::optional(named.get<std::string>());
    std::string why;
    switch (m_snapshots.Assign(unit, snapshot, why)) {
        case SnapshotBook::Change::kMissing:
            return call.respond(ApiResponse(ErrorReply(404, "no such snapshot: " + *snapshot)));
        case SnapshotBook::Change::kUnsaved:
            return call.respond(
                ApiResponse(ErrorReply(503, "the desired state could not be kept: " + why)));
        default:
            return call.respond(ApiResponse({200, {{"unit", unit}, {"snapshot", named}}}));
    }
}

// From the values each unit's polls last read, so that it costs the units nothing.
void Api::GetDrift(const RouteCall& call) {
    json units = json::array();
    for (const groups::UnitEntry& entry : m_units.Entries()) {
        const UnitSnapshot state = m_units.Find(entry.unit)->Snapshot();
        if (const std::optional<UnitDrift> drift = DriftOf(state, m_snapshots)) {
            units.push_back(DriftJson(entry.unit, entry.name, *drift));
        }
    }
    call.respond(ApiResponse({200, {{"units", std::move(units)}}}));
}

void Api::UnitChanged(const UnitSnapshot& state) {
    const std::optional<UnitDrift> drift = DriftOf(state, m_snapshots);
    if (!m_drift.Changed(state.unit, drift)) return;
    json told = drift ? DriftJson(state.unit, state.naming.name, *drift)
                      : json{{"unit", state.unit},
                             {"name", state.naming.name},
                             {"snapshot", nullptr},
                             {"differs", json::array()}};
    told["drifting"] = !told["differs"].empty();
    m_hub.Publish("drift", told.dump(-1, ' ', false, json::error_handler_t::replace));
}

// The settings the command changed are set back to their values before it; what it left as
// it was is left to whatever set it since. An address is set back only where it moved.
void Api::PostUndo(const RouteCall& call) {
    const std::optional<json> body = JsonBody(call);
    if (!body) return;
    const Respond respond = call.respond;
    const json id = body->value("command", json());
    if (!id.is_string()) {
        return respond(ApiResponse(ErrorReply(400, "give {\"command\": \"<its id>\"}")));
    }
    std::optional<json> ended;
    for (const json& entry : m_audit.Query("", "", AuditLog::kKept)) {
        if (entry.value("command", "") == id && entry.value("phase", "") == "ended") ended = entry;
    }
    const std::shared_ptr<UnitMonitor> unit =
        ended ? m_units.Find(ended->value("unit", "")) : nullptr;
    if (!unit) return respond(ApiResponse(ErrorReply(404, "no such command in the audit log")));
    const std::optional<UnitSettings> before = KeptSettings(ended->value("before", json()));
    if (!before) {
        return respond(ApiResponse(
            ErrorReply(409, "the command has no values from before it: it was never sent")));
    }
    UnitSettings wanted;
    const std::optional<UnitSettings> after = KeptSettings(ended->value("after", json()));
    for (const groups::Setting setting :
         groups::Differing(*before, after.value_or(UnitSettings{}))) {
        if (setting == groups::Setting::kNetwork) {
            if (after) wanted.network = before->network;
        } else {
            wanted.values[setting] = before->values.at(setting);
        }
    }
    std::string unrecordable;
    std::optional<CommandRecord> record = Record(call, unrecordable);
    if (!record) return respond(ApiResponse(ErrorReply(503, unrecordable)));
    record->action = "undo";
    record->params = {{"command", id}};
    const bool network = wanted.network.has_value();
    auto applied = std::make_shared<AppliedSettings>();
    auto form = [applied, wanted](const CommandOutcome& outcome) {
        return json{{"status", CommandReply(outcome).status},
                    {"reply", AppliedJson(outcome, *applied, wanted)}};
    };
    RunCommand(*unit, m_hub, ApplySettings(applied, wanted, network), network, *record, form,
               [this, form, respond](const CommandOutcome& outcome) {
                   m_commands.Count(outcome.unit, outcome);
                   const json told = form(outcome);
                   respond(ApiResponse({told["status"].get<int>(), told["reply"]}));
               });
}

}  // namespace vantrel::gateway

#include "gateway/fleet/unit_roster.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "clients/targets.h"

namespace vantrel::gateway {
namespace {

using groups::UnitEntry;
using nlohmann::json;

// The entry of the unit the API names `unit`.
const UnitEntry* Find(const std::vector<UnitEntry>& entries, const std::string& unit) {
    for (const UnitEntry& entry : entries) {
        if (ApiName(entry.unit) == unit) return &entry;
    }
    return nullptr;
}

// A unit as its events and audit entries carry it; null for none.
json EntryJson(const UnitEntry* entry) {
    if (!entry) return nullptr;
    json labels = json::object();
    for (const auto& [key, value] : entry->labels) labels[key] = value;
    return {{"unit", ApiName(entry->unit)},
            {"name", entry->name.empty() ? json() : json(entry->name)},
            {"labels", labels}};
}

std::optional<clients::Target> TargetOf(const UnitEntry& entry, std::string& why) {
    const std::vector<std::string> one{entry.unit};
    std::vector<clients::Target> targets;
    if (!clients::MakeTargets(entry.Serial() ? std::vector<std::string>{} : one,
                              entry.Serial() ? one : std::vector<std::string>{}, targets, why)) {
        return std::nullopt;
    }
    return targets.front();
}

bool Same(const UnitEntry& a, const UnitEntry& b) {
    return a.unit == b.unit && a.name == b.name && a.labels == b.labels;
}

// The units as the file would read once written: a unit, name or label that would read back
// otherwise (a space or a '#' in it, say) is refused rather than kept changed.
RosterOutcome Readable(const groups::UnitsFile& file) {
    const auto parsed = groups::ParseUnitsFile(groups::FormatUnitsFile(file));
    if (!parsed.Ok()) {
        const groups::UnitsFileError& error = parsed.GetError();
        return {error.fault == groups::UnitsFileFault::kNamedTwice ? RosterFault::kExists
                                                                   : RosterFault::kBadEntry,
                groups::ErrorText("the units file", error)};
    }
    const std::vector<UnitEntry> wanted = file.Units(), read = parsed.Value().Units();
    if (!std::equal(wanted.begin(), wanted.end(), read.begin(), read.end(), Same)) {
        return {RosterFault::kBadEntry,
                "a unit is A.B.C.D or a path; names and labels are letters, digits and _.:/-"};
    }
    return {};
}

}  // namespace

std::string ApiName(const std::string& unit) {
    return !unit.empty() && unit[0] == '/' ? unit.substr(unit.rfind('/') + 1) : unit;
}

UnitRoster::UnitRoster(Units& units, EventHub& hub, std::shared_ptr<StateStore> store,
                       UnitMonitor::Changed changed)
    : m_units(units), m_hub(hub), m_store(std::move(store)), m_changed(std::move(changed)) {}

std::optional<StoreError> UnitRoster::Load() {
    if (!m_store) return std::nullopt;
    auto loaded = m_store->LoadUnits();
    if (!loaded.Ok()) return loaded.GetError();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_file = std::move(loaded.Value());
    return std::nullopt;
}

std::optional<std::size_t> UnitRoster::LineOf(const std::string& unit) const {
    for (std::size_t i = 0; i < m_file.lines.size(); ++i) {
        const auto& entry = m_file.lines[i].entry;
        if (entry && ApiName(entry->unit) == unit) return i;
    }
    return std::nullopt;
}

RosterOutcome UnitRoster::Changeable(const std::string& unit) const {
    if (!m_store) {
        return {RosterFault::kNotKept,
                "the units are given by --unit or --port: no units file "
                "keeps a change (start with --units-file or --state-dir)"};
    }
    if (LineOf(unit)) return {};
    if (m_units.Find(unit)) {
        return {RosterFault::kNotKept, "the unit " + unit + " is given by --unit or --port"};
    }
    return {RosterFault::kNoSuchUnit, "no such unit: " + unit};
}

RosterOutcome UnitRoster::Addable(const UnitEntry& entry) const {
    if (m_units.Find(ApiName(entry.unit))) {
        return {RosterFault::kExists, "the unit " + entry.unit + " is given by --unit or --port"};
    }
    std::string why;
    if (!TargetOf(entry, why)) return {RosterFault::kBadEntry, why};
    return {};
}

std::vector<groups::UnitEntry> UnitRoster::Entries() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_file.Units();
}

RosterOutcome UnitRoster::Add(UnitEntry entry, const CommandRecord& record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_store) return Changeable("");
    const std::string unit = ApiName(entry.unit);
    groups::UnitsFile to = m_file;
    to.lines.push_back({entry, ""});
    if (RosterOutcome readable = Readable(to); readable.fault != RosterFault::kNone) {
        return readable;
    }
    if (RosterOutcome refused = Addable(entry); refused.fault != RosterFault::kNone) {
        return refused;
    }
    return Change(std::move(to), unit, record);
}

RosterOutcome UnitRoster::Remove(const std::string& unit, const CommandRecord& record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (RosterOutcome refused = Changeable(unit); refused.fault != RosterFault::kNone) {
        return refused;
    }
    if (const auto monitor = m_units.Find(unit); monitor && monitor->Updating()) {
        return {RosterFault::kUpdating,
                "a firmware update runs on " + unit + ": remove it once the update has ended"};
    }
    groups::UnitsFile to = m_file;
    to.lines.erase(to.lines.begin() + static_cast<std::ptrdiff_t>(*LineOf(unit)));
    return Change(std::move(to), unit, record);
}

RosterOutcome UnitRoster::Relabel(const std::string& unit, std::optional<std::string> name,
                                  groups::Labels labels, const CommandRecord& record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (RosterOutcome refused = Changeable(unit); refused.fault != RosterFault::kNone) {
        return refused;
    }
    groups::UnitsFile to = m_file;
    UnitEntry& entry = *to.lines[*LineOf(unit)].entry;
    if (name) entry.name = std::move(*name);
    entry.labels = std::move(labels);
    if (RosterOutcome readable = Readable(to); readable.fault != RosterFault::kNone) {
        return readable;
    }
    return Change(std::move(to), unit, record);
}

RosterOutcome UnitRoster::Change(groups::UnitsFile to, const std::string& unit,
                                 CommandRecord record) {
    const json before = EntryJson(Find(m_file.Units(), unit));
    const json after = EntryJson(Find(to.Units(), unit));
    std::string why;
    if (!record.Begin(unit, why)) return {RosterFault::kUnrecorded, why};
    if (const std::optional<StoreError> error = m_store->SaveUnits(to)) {
        record.Write(unit, true, {{"state", "not stored"}, {"why", error->text}}, before, before);
        return {RosterFault::kNotStored, error->text};
    }
    Apply(to);
    m_file = std::move(to);
    record.Write(unit, true, {{"state", "done"}}, before, after);
    return {};
}

RosterOutcome UnitRoster::Reload(CommandRecord record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_store) return Changeable("");
    auto loaded = m_store->LoadUnits();
    if (!loaded.Ok()) return {RosterFault::kBadEntry, loaded.GetError().text};
    const std::vector<UnitEntry> from = m_file.Units(), next = loaded.Value().Units();
    json added = json::array(), removed = json::array(), relabelled = json::array();
    for (const UnitEntry& old : from) {
        const std::string unit = ApiName(old.unit);
        if (Find(next, unit)) continue;
        if (const auto monitor = m_units.Find(unit); monitor && monitor->Updating()) {
            return {RosterFault::kUpdating, "a firmware update runs on " + unit};
        }
        removed.push_back(unit);
    }
    for (const UnitEntry& entry : next) {
        const UnitEntry* old = Find(from, ApiName(entry.unit));
        if (!old) {
            if (RosterOutcome refused = Addable(entry); refused.fault != RosterFault::kNone) {
                return refused;
            }
            added.push_back(ApiName(entry.unit));
        } else if (!Same(*old, entry)) {
            relabelled.push_back(ApiName(entry.unit));
        }
    }
    if (!added.empty() || !removed.empty() || !relabelled.empty()) {
        record.params = {{"added", added}, {"removed", removed}, {"relabelled", relabelled}};
        std::string why;
        if (!record.Begin("", why)) return {RosterFault::kUnrecorded, why};
        Apply(loaded.Value());
        record.Write("", true, {{"state", "done"}}, nullptr, nullptr);
    }
    m_file = std::move(loaded.Value());
    return {};
}

void UnitRoster::Apply(const groups::UnitsFile& to) {
    const std::vector<UnitEntry> from = m_file.Units(), next = to.Units();
    for (const UnitEntry& old : from) {
        const std::string unit = ApiName(old.unit);
        if (Find(next, unit)) continue;
        m_units.Remove(unit, [&hub = m_hub, unit] {
            hub.Publish("unit-removed", json{{"unit", unit}}.dump());
        });
    }
    for (const UnitEntry& entry : next) {
        const std::string unit = ApiName(entry.unit);
        const UnitEntry* old = Find(from, unit);
        if (!old) {
            std::string why;
            // Told first, so that the unit's own events come after it.
            m_hub.Publish("unit-added", EntryJson(&entry).dump());
            m_units.Add(unit, *TargetOf(entry, why), m_changed, {entry.name, entry.labels});
        } else if (!Same(*old, entry)) {
            m_hub.Publish("unit-relabelled", EntryJson(&entry).dump());
            m_units.Rename(unit, {entry.name, entry.labels});
        }
    }
}

}  // namespace vantrel::gateway

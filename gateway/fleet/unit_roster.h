#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway/fleet/unit_command.h"
#include "gateway/fleet/units.h"
#include "gateway/net/event_hub.h"
#include "gateway/state/state_store.h"
#include "groups/units_file.h"

namespace vantrel::gateway {

/// How the API names a unit of the units file: its address, or its serial port's base name
/// (ttyUSB0).
std::string ApiName(const std::string& unit);

/// What a change of the units came to; each edge says it in its own way.
enum class RosterFault : std::uint8_t {
    kNone,
    kNotKept,  // no units file keeps the units, or the unit is given by --unit or --port
    kNoSuchUnit,
    kExists,      // a unit or a name that another unit has
    kBadEntry,    // not a unit's address or port, or a name or label that is not a word
    kUpdating,    // a firmware update runs on a unit it would remove
    kUnrecorded,  // the audit log cannot take it: nothing changed
    kNotStored,   // the store could not keep it: nothing changed
};

struct RosterOutcome {
    RosterFault fault = RosterFault::kNone;
    std::string why;  // for a person, unless kNone
};

/// The units of the units file, changed while the gateway runs: by an admin, one unit at a time,
/// or by reading the file again. Each change is audited, kept by the store, and only then takes
/// effect: an added unit gets its monitor, a removed one's stops, and each is told as an event
/// ("unit-added", "unit-removed" once its monitor has ended, "unit-relabelled"). Without a
/// store nothing is kept, and nothing can be changed.
class UnitRoster {
  public:
    /// `changed` is handed to each added unit's monitor.
    UnitRoster(Units& units, EventHub& hub, std::shared_ptr<StateStore> store,
               UnitMonitor::Changed changed);

    /// Reads the units file as the gateway starts with it.
    std::optional<StoreError> Load();
    /// The units as the file gives them, in its order.
    std::vector<groups::UnitEntry> Entries() const;
    RosterOutcome Add(groups::UnitEntry entry, const CommandRecord& record);
    RosterOutcome Remove(const std::string& unit, const CommandRecord& record);
    /// Replaces the unit's labels, and its name unless `name` is none ("" for no name).
    RosterOutcome Relabel(const std::string& unit, std::optional<std::string> name,
                          groups::Labels labels, const CommandRecord& record);
    /// Reads the units file again and makes the units what it says; one that cannot be read
    /// changes nothing.
    /// Recorded as `record`'s action, with what was added, removed and relabelled.
    RosterOutcome Reload(CommandRecord record);

  private:
    /// The line of the unit the API names `unit`; none when the file has no such unit.
    std::optional<std::size_t> LineOf(const std::string& unit) const;  // under m_mutex
    /// Why the unit cannot be changed: not kept, or not held.
    RosterOutcome Changeable(const std::string& unit) const;  // under m_mutex
    /// Why the unit cannot be added: another holds it, or it cannot be reached.
    RosterOutcome Addable(const groups::UnitEntry& entry) const;
    /// Checks `to`, audits, stores and applies it.
    RosterOutcome Change(groups::UnitsFile to, const std::string& unit, CommandRecord record);
    /// Adds, removes and relabels the units so that they are what `to` says.
    void Apply(const groups::UnitsFile& to);  // under m_mutex

    Units& m_units;
    EventHub& m_hub;
    const std::shared_ptr<StateStore> m_store;
    const UnitMonitor::Changed m_changed;
    mutable std::mutex m_mutex;  // one change at a time, each stored before the next reads the file
    groups::UnitsFile m_file;
};

}  // namespace vantrel::gateway

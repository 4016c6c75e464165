#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway/fleet/snapshot_book.h"
#include "gateway/fleet/unit_snapshot.h"
#include "groups/unit_settings.h"

namespace vantrel::gateway {

/// A unit held to a snapshot, as its last poll shows it.
struct UnitDrift {
    std::string snapshot;
    std::optional<groups::UnitSettings> wanted;  // none: the snapshot holds nothing for it
    bool down = false;                           // not up, or not read yet: nothing is known
    groups::UnitSettings live;
    std::vector<groups::Setting> differing;  // in order
};

/// How `state` stands against the snapshot its unit is held to; none for a unit held to none.
std::optional<UnitDrift> DriftOf(const UnitSnapshot& state, const SnapshotBook& book);

/// Whether each unit differs from the snapshot it is held to, as last seen, to tell when that
/// starts or ends. A unit that is down keeps what was last known of it.
class DriftWatch {
  public:
    /// Whether the unit's drifting has started or ended with `drift` (none: held to none).
    bool Changed(const std::string& unit, const std::optional<UnitDrift>& drift);

  private:
    std::mutex m_mutex;
    std::map<std::string, bool> m_drifting;
};

}  // namespace vantrel::gateway

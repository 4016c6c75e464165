#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "groups/checked.h"
#include "groups/snapshot.h"
#include "groups/units_file.h"

namespace vantrel::gateway {

/// Why the kept state could not be read or written, for a person: the file or key, and why.
struct StoreError {
    std::string text;
};

/// The snapshot each unit is held to, by unit (as the units file names it).
using Assignments = std::map<std::string, std::string>;

/// What the gateway keeps across restarts: the units with their names and labels, the
/// snapshots, and the snapshot each unit is held to. A save replaces its part whole, in one
/// step, so that a crash leaves the old state or the new one and never a torn one. The file
/// store is the default; redundant gateways keep the same state in a shared store.
class StateStore {
  public:
    virtual ~StateStore() = default;

    virtual groups::Checked<groups::UnitsFile, StoreError> LoadUnits() = 0;
    virtual std::optional<StoreError> SaveUnits(const groups::UnitsFile& units) = 0;

    virtual groups::Checked<std::vector<groups::Snapshot>, StoreError> LoadSnapshots() = 0;
    /// Adds the snapshot, or replaces the one of the same name.
    virtual std::optional<StoreError> SaveSnapshot(const groups::Snapshot& snapshot) = 0;
    virtual std::optional<StoreError> DeleteSnapshot(const std::string& name) = 0;

    virtual groups::Checked<Assignments, StoreError> LoadAssignments() = 0;
    virtual std::optional<StoreError> SaveAssignments(const Assignments& assignments) = 0;
};

}  // namespace vantrel::gateway

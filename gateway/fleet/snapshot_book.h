#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway/state/state_store.h"
#include "groups/snapshot.h"

namespace vantrel::gateway {

/// The gateway's snapshots by name, and the snapshot each unit is held to, kept in its state
/// store: each change is saved there before it shows, so that what a client is told was kept is
/// what a restart finds. Without a store they are kept in memory only.
class SnapshotBook {
  public:
    /// Reads the snapshots and the assignments from `store`, which keeps them from now on; when
    /// it cannot, the book is left as it was.
    std::optional<StoreError> Load(std::shared_ptr<StateStore> store);

    std::vector<groups::Snapshot> List() const;
    std::optional<groups::Snapshot> Find(const std::string& name) const;

    /// The snapshot `unit` is held to, and its values there (none when it holds none for it).
    struct Desired {
        std::string snapshot;
        std::optional<groups::UnitSettings> wanted;
    };
    /// None for a unit held to none.
    std::optional<Desired> DesiredOf(const std::string& unit) const;

    enum class Change : std::uint8_t { kDone, kExists, kMissing, kHeld, kUnsaved };
    /// Adds the snapshot; one of the same name is replaced only when `replace` (else kExists).
    /// kUnsaved, with the store's reason in `why`, changes nothing.
    Change Keep(const groups::Snapshot& snapshot, bool replace, std::string& why);
    /// kHeld while a unit is held to it.
    Change Remove(const std::string& name, std::string& why);
    /// Holds `unit` to the snapshot named (kMissing when there is none), or to none.
    Change Assign(const std::string& unit, const std::optional<std::string>& snapshot,
                  std::string& why);

  private:
    std::vector<groups::Snapshot>::iterator Named(const std::string& name);

    mutable std::mutex m_mutex;
    std::shared_ptr<StateStore> m_store;
    std::vector<groups::Snapshot> m_snapshots;
    Assignments m_held;
};

}  // namespace vantrel::gateway

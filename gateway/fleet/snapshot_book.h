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

/// The gateway's snapshots by name, kept in its state store: each change is saved there
/// before it shows, so that what a client is told was kept is what a restart finds. Without a
/// store they are kept in memory only.
class SnapshotBook {
  public:
    /// Reads the snapshots from `store`, which keeps them from now on; when it cannot, the
    /// book is left as it was.
    std::optional<StoreError> Load(std::shared_ptr<StateStore> store);

    std::vector<groups::Snapshot> List() const;
    std::optional<groups::Snapshot> Find(const std::string& name) const;

    enum class Change : std::uint8_t { kDone, kExists, kMissing, kUnsaved };
    /// Adds the snapshot; one of the same name is replaced only when `replace` (else kExists).
    /// kUnsaved, with the store's reason in `why`, changes nothing.
    Change Keep(const groups::Snapshot& snapshot, bool replace, std::string& why);
    Change Remove(const std::string& name, std::string& why);

  private:
    std::vector<groups::Snapshot>::iterator Named(const std::string& name);

    mutable std::mutex m_mutex;
    std::shared_ptr<StateStore> m_store;
    std::vector<groups::Snapshot> m_snapshots;
};

}  // namespace vantrel::gateway

#include "gateway/fleet/snapshot_book.h"

#include <algorithm>

namespace vantrel::gateway {

std::optional<StoreError> SnapshotBook::Load(std::shared_ptr<StateStore> store) {
    auto loaded = store->LoadSnapshots();
    if (!loaded.Ok()) return loaded.GetError();
    auto held = store->LoadAssignments();
    if (!held.Ok()) return held.GetError();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_store = std::move(store);
    m_snapshots = std::move(loaded.Value());
    m_held = std::move(held.Value());
    return std::nullopt;
}

std::vector<groups::Snapshot> SnapshotBook::List() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_snapshots;
}

std::optional<SnapshotBook::Desired> SnapshotBook::DesiredOf(const std::string& unit) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto held = m_held.find(unit);
    if (held == m_held.end()) return std::nullopt;
    Desired desired{held->second, std::nullopt};
    for (const groups::Snapshot& snapshot : m_snapshots) {
        if (snapshot.name != held->second) continue;
        if (const groups::UnitSettings* wanted = snapshot.Find(unit)) desired.wanted = *wanted;
    }
    return desired;
}

std::optional<groups::Snapshot> SnapshotBook::Find(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const groups::Snapshot& snapshot : m_snapshots) {
        if (snapshot.name == name) return snapshot;
    }
    return std::nullopt;
}

std::vector<groups::Snapshot>::iterator SnapshotBook::Named(const std::string& name) {
    return std::find_if(m_snapshots.begin(), m_snapshots.end(),
                        [&](const groups::Snapshot& snapshot) { return snapshot.name == name; });
}

// Under the lock throughout, so that two captures of one name cannot both find it free.
SnapshotBook::Change SnapshotBook::Keep(const groups::Snapshot& snapshot, bool replace,
                                        std::string& why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto same = Named(snapshot.name);
    if (same != m_snapshots.end() && !replace) return Change::kExists;
    if (m_store) {
        if (const std::optional<StoreError> error = m_store->SaveSnapshot(snapshot)) {
            why = error->text;
            return Change::kUnsaved;
        }
    }
    if (same != m_snapshots.end()) {
        *same = snapshot;
    } else {
        m_snapshots.push_back(snapshot);
    }
    return Change::kDone;
}

SnapshotBook::Change SnapshotBook::Remove(const std::string& name, std::string& why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = Named(name);
    if (found == m_snapshots.end()) return Change::kMissing;
    for (const auto& [unit, held] : m_held) {
        if (held == name) return Change::kHeld;
    }
    if (m_store) {
        if (const std::optional<StoreError> error = m_store->DeleteSnapshot(name)) {
            why = error->text;
            return Change::kUnsaved;
        }
    }
    m_snapshots.erase(found);
    return Change::kDone;
}

SnapshotBook::Change SnapshotBook::Assign(const std::string& unit,
                                          const std::optional<std::string>& snapshot,
                                          std::string& why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (snapshot && Named(*snapshot) == m_snapshots.end()) return Change::kMissing;
    Assignments held = m_held;
    if (snapshot) {
        held[unit] = *snapshot;
    } else {
        held.erase(unit);
    }
    if (m_store) {
        if (const std::optional<StoreError> error = m_store->SaveAssignments(held)) {
            why = error->text;
            return Change::kUnsaved;
        }
    }
    m_held = std::move(held);
    return Change::kDone;
}

}  // namespace vantrel::gateway

#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway/state/state_store.h"

namespace vantrel::testing {

/// The gateway's kept state in memory, for tests: what was saved is what a load finds, and a
/// test can make every save fail, as a full disk would.
class MemoryStore : public gateway::StateStore {
  public:
    void FailSaves(bool fail) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failSaves = fail;
    }
    /// The snapshots as saved, by name.
    std::map<std::string, groups::Snapshot> Saved() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_snapshots;
    }

    groups::Checked<groups::UnitsFile, gateway::StoreError> LoadUnits() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_units;
    }
    std::optional<gateway::StoreError> SaveUnits(const groups::UnitsFile& units) override {
        return Saving([&] { m_units = units; });
    }
    groups::Checked<std::vector<groups::Snapshot>, gateway::StoreError> LoadSnapshots() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<groups::Snapshot> all;
        for (const auto& [name, snapshot] : m_snapshots) all.push_back(snapshot);
        return all;
    }
    std::optional<gateway::StoreError> SaveSnapshot(const groups::Snapshot& snapshot) override {
        return Saving([&] { m_snapshots[snapshot.name] = snapshot; });
    }
    std::optional<gateway::StoreError> DeleteSnapshot(const std::string& name) override {
        return Saving([&] { m_snapshots.erase(name); });
    }
    groups::Checked<gateway::Assignments, gateway::StoreError> LoadAssignments() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_assignments;
    }
    std::optional<gateway::StoreError> SaveAssignments(
        const gateway::Assignments& assignments) override {
        return Saving([&] { m_assignments = assignments; });
    }

  private:
    template <typename Change>
    std::optional<gateway::StoreError> Saving(Change change) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failSaves) return gateway::StoreError{"the store refuses every save"};
        change();
        return std::nullopt;
    }

    mutable std::mutex m_mutex;
    bool m_failSaves = false;
    groups::UnitsFile m_units;
    std::map<std::string, groups::Snapshot> m_snapshots;
    gateway::Assignments m_assignments;
};

}  // namespace vantrel::testing

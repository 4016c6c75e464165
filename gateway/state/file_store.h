#pragma once

#include <string>

#include "gateway/state/state_store.h"
#include "groups/safe_file.h"

namespace vantrel::gateway {

/// The state in files, each written safely (groups/safe_file.h): the units in the units file,
/// each snapshot as `snapshots/NAME.json` in the state folder (in the format vantrelctl reads)
/// and the assignments as `assignments.json` there.
class FileStore : public StateStore {
  public:
    /// `calls` outlives the store; tests pass one that fails a chosen step.
    FileStore(std::string unitsFile, std::string folder, groups::FileCalls& calls = SystemCalls());

    groups::Checked<groups::UnitsFile, StoreError> LoadUnits() override;
    std::optional<StoreError> SaveUnits(const groups::UnitsFile& units) override;

    groups::Checked<std::vector<groups::Snapshot>, StoreError> LoadSnapshots() override;
    std::optional<StoreError> SaveSnapshot(const groups::Snapshot& snapshot) override;
    std::optional<StoreError> DeleteSnapshot(const std::string& name) override;

    groups::Checked<Assignments, StoreError> LoadAssignments() override;
    std::optional<StoreError> SaveAssignments(const Assignments& assignments) override;

  private:
    static groups::FileCalls& SystemCalls();

    std::string m_unitsFile;
    std::string m_folder;
    groups::FileCalls& m_calls;
};

}  // namespace vantrel::gateway

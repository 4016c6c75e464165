#pragma once

#include <string>

#include "gateway/cluster/etcd_client.h"
#include "gateway/state/state_store.h"

namespace vantrel::gateway::cluster {

/// Where the gateways of one facility keep their state in etcd, unless told otherwise.
inline constexpr const char* kDefaultEtcdPrefix = "/vantrel/";

/// The state in etcd under a prefix: the units file's text under `PREFIX units`, each snapshot
/// (in the format vantrelctl reads) under `PREFIX snapshots/NAME` and the assignments as one
/// JSON object under `PREFIX assignments`. Each save is one put, so never torn; a part that is
/// not there yet is empty.
class EtcdStore : public StateStore {
  public:
    /// `etcd` outlives the store.
    EtcdStore(EtcdClient& etcd, std::string prefix);

    groups::Checked<groups::UnitsFile, StoreError> LoadUnits() override;
    std::optional<StoreError> SaveUnits(const groups::UnitsFile& units) override;

    groups::Checked<std::vector<groups::Snapshot>, StoreError> LoadSnapshots() override;
    std::optional<StoreError> SaveSnapshot(const groups::Snapshot& snapshot) override;
    std::optional<StoreError> DeleteSnapshot(const std::string& name) override;

    groups::Checked<Assignments, StoreError> LoadAssignments() override;
    std::optional<StoreError> SaveAssignments(const Assignments& assignments) override;

  private:
    /// The key's value; "" when it is not there.
    groups::Checked<std::string, StoreError> Read(const std::string& key);
    std::optional<StoreError> Write(const std::string& key, const std::string& value);

    EtcdClient& m_etcd;
    const std::string m_prefix;
};

}  // namespace vantrel::gateway::cluster

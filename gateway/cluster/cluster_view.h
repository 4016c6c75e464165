#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway/cluster/etcd_client.h"
#include "gateway/cluster/etcd_watch.h"
#include "gateway/fleet/unit_owners.h"

namespace vantrel::gateway::cluster {

/// A unit's owner key: the gateway that claimed it, and the lease the claim lives under.
struct OwnerKey {
    GatewayMember owner;
    LeaseId lease = 0;
};

/// What etcd holds under the prefix, as this gateway last saw it: the live members, who owns
/// which unit, and whether the shared state (the units, snapshots, assignments) has changed.
/// Read whole, then followed with a watch; once the watch ends (etcd gone), the view stays as
/// it was until Sync reads it whole again.
class ClusterView {
  public:
    /// `etcd` outlives the view; `changed` is told of each change, on the watch's thread.
    ClusterView(EtcdClient& etcd, std::vector<HttpPlace> members, std::string prefix,
                std::function<void()> changed);
    ~ClusterView();
    ClusterView(const ClusterView&) = delete;
    ClusterView& operator=(const ClusterView&) = delete;

    /// Reads everything under the prefix and follows it from there. Not from the watch's thread.
    std::optional<EtcdError> Sync();
    /// Whether the watch still follows etcd.
    bool Following() const { return m_following; }

    std::map<std::string, GatewayMember> Members() const;
    /// The lease a live member's key is under; none when it is not a member.
    std::optional<LeaseId> MemberLease(const std::string& id) const;
    std::optional<OwnerKey> OwnerOf(const std::string& unit) const;
    /// Whether the units, the snapshots or the assignments have changed since last asked.
    bool TakeStateChange();

  private:
    void Take(const std::vector<WatchEvent>& events);
    void TakeOne(bool deleted, const KeyValue& kv);  // under m_mutex

    EtcdClient& m_etcd;
    const std::vector<HttpPlace> m_places;
    const std::string m_prefix;
    const std::function<void()> m_changed;
    std::size_t m_place = 0;  // the member the watch follows
    mutable std::mutex m_mutex;
    std::map<std::string, GatewayMember> m_members;
    std::map<std::string, LeaseId> m_memberLeases;
    std::map<std::string, OwnerKey> m_owners;
    bool m_stateChanged = false;
    std::atomic<bool> m_following{false};
    std::unique_ptr<EtcdWatch> m_watch;  // last: its thread uses the rest
};

}  // namespace vantrel::gateway::cluster

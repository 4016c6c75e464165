#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "gateway/cluster/cluster_view.h"
#include "gateway/cluster/etcd_store.h"
#include "gateway/cluster/lease.h"
#include "gateway/fleet/unit_owners.h"
#include "gateway/fleet/units.h"
#include "gateway/metrics/metrics.h"

namespace vantrel::gateway::cluster {

/// How a gateway joins a cluster of gateways.
struct ClusterSettings {
    std::vector<HttpPlace> etcd;  // its members, tried in turn
    std::string prefix = kDefaultEtcdPrefix;
    std::chrono::seconds leaseTtl{5};
    GatewayMember self;
    EtcdAccess access;  // how etcd is reached beyond the members' addresses
    /// A call to etcd that has not answered in this long has failed.
    std::chrono::milliseconds etcdLimit{1000};
};

/// This gateway's hold on its share of the units. It keeps a lease in etcd with its member key
/// under it, follows the members and the owner keys, and owns the units that rendezvous hashing
/// over the live members gives it: each claimed with a put that only an absent key takes, under
/// the lease, before its monitor drives it. A unit that should move is let go once its queue
/// has drained and its link is closed, and only then is its key deleted; a unit whose firmware
/// update runs is kept. Once the lease may have expired, every unit is dropped at once, and
/// MayWrite refuses each line still on its way; a new lease is taken only once every link is
/// closed.
class UnitClaims : public UnitOwners {
  public:
    /// `etcd`, `units` and `clock` outlive it; `stateChanged` is told, on its thread, when the
    /// units, snapshots or assignments in etcd have changed.
    UnitClaims(EtcdClient& etcd, const ClusterSettings& settings, Units& units,
               WaitableClock& clock, std::function<void()> stateChanged);
    /// Revokes the lease, so that the others take the units over at once.
    ~UnitClaims() override;
    UnitClaims(const UnitClaims&) = delete;
    UnitClaims& operator=(const UnitClaims&) = delete;

    /// Starts its thread, which grants the lease, joins and claims as soon as etcd answers.
    void Start();
    /// Ends its thread: nothing more is claimed, driven or let go. The lease stays until the
    /// claims go with it.
    void Stop();

    /// Whether a line may be sent to a unit now: while the lease is surely held.
    bool MayWrite() const;
    UnitOwner OwnerOf(const std::string& unit) const override;
    /// What etcd holds while `unit` is this gateway's: its owner key with this gateway's claim,
    /// under the lease. None when it is not claimed here under a lease surely held.
    std::optional<Hold> ClaimOn(const std::string& unit) const;
    ClusterFigures Figures() const;
    /// Whether the gateway `id` is a live member under the lease `lease` (hex, as Signature
    /// gives it): a gateway gone, or come back under another lease, runs nothing it ran before.
    bool Running(const std::string& id, const std::string& lease) const;
    /// The live member `id`, as the others reach it; none when it is not one now.
    std::optional<GatewayMember> Member(const std::string& id) const;
    /// This gateway as its audit entries name it: its id, and the lease (hex) it holds its
    /// units under now, null while it holds none.
    nlohmann::json Signature() const;

  private:
    static constexpr std::chrono::milliseconds kPeriod{250};

    void Run();
    void Step();
    /// Grants a lease when there is none or it is gone, and puts the member key under it.
    void KeepLease();
    /// The lease's id while it is surely held; 0 when not.
    LeaseId HeldLease() const;
    /// The members that share the units now, this gateway among them while it holds its lease.
    std::vector<std::string> Sharing(bool holding) const;
    /// Claims, keeps, lets go or drops one unit.
    void Tend(UnitMonitor& monitor, LeaseId lease, const std::vector<std::string>& sharing);
    std::string OwnerValue(LeaseId lease) const;
    static std::string Hex(LeaseId lease);
    bool Claimed(const std::string& unit) const;
    void SetClaimed(const std::string& unit, bool claimed);

    EtcdClient& m_etcd;
    const ClusterSettings m_settings;
    Units& m_units;
    WaitableClock& m_clock;
    const std::function<void()> m_stateChanged;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_woken = false;
    std::unique_ptr<Lease> m_lease;   // replaced only on this object's thread, under m_mutex
    bool m_joined = false;            // the member key is under the lease
    std::set<std::string> m_claimed;  // the owner keys put under the lease
    ClusterView m_view;
    std::thread m_thread;  // last: it uses everything above
};

}  // namespace vantrel::gateway::cluster

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gateway/cluster/etcd_client.h"
#include "gateway/cluster/etcd_watch.h"
#include "gateway/fleet/other_units.h"

namespace vantrel::gateway::cluster {

/// Every unit's state under `PREFIX state/UNIT`, as GET /api/units/{unit} gives it: the owner
/// puts a unit's state when it changes, and every gateway watches them all. On a thread of its
/// own, so that no monitor waits on etcd: states that come faster than etcd takes them are put
/// once each, the latest; one equal to what etcd holds already is not put at all. When etcd
/// cannot be reached, the last states seen are kept, and the puts and the watch resume by
/// themselves when it returns. A state put under the owner's lease goes with it: a unit whose
/// owner is gone shows its last values, with its link down, until another owner publishes it.
class StateFeed : public OtherUnits {
  public:
    /// A unit's state that changed in etcd, on the feed's threads.
    using Told = std::function<void(const std::string& unit, const nlohmann::json& state)>;
    /// This gateway's hold on `unit` (its owner key with this gateway's claim, and the lease);
    /// none once the unit is no longer this gateway's. Without one (the jobs, whose keys are
    /// each one gateway's alone), every state is put.
    using Claim = std::function<std::optional<Hold>(const std::string& unit)>;
    /// What the states are: the units' (`PREFIX state/`), whose deleted key means their owner
    /// is gone, or the firmware jobs' (`PREFIX jobs/`), whose deleted key means a job is over.
    enum class Fed : std::uint8_t { kUnits, kJobs };

    /// `etcd` (whose `members` are watched in turn) outlives the feed; `limit` bounds the
    /// watch's connection.
    StateFeed(EtcdClient& etcd, std::vector<HttpPlace> members, const std::string& prefix,
              std::chrono::milliseconds limit, Claim claim, Told told, Fed fed = Fed::kUnits);
    ~StateFeed();
    StateFeed(const StateFeed&) = delete;
    StateFeed& operator=(const StateFeed&) = delete;

    /// The state of a unit this gateway drives, as JSON text; "" deletes it. It is put only
    /// while etcd holds this gateway's claim on the unit, and under the lease of that claim,
    /// so a state still on its way when the unit moved never lands after the new owner's, and
    /// a dead owner's states go with its lease.
    void Changed(const std::string& unit, std::string state);

    std::map<std::string, nlohmann::json> States() const override;
    std::optional<nlohmann::json> StateOf(const std::string& unit) const override;

  private:
    struct Known {
        std::string text;
        nlohmann::json state;
        std::int64_t revision = 0;
    };
    void Run();
    /// Every state under the prefix, in place of those known; the revision read at.
    std::optional<std::int64_t> Read();
    void Take(const std::vector<WatchEvent>& events);
    /// Puts each pending state etcd does not hold yet; false when etcd could not take one.
    bool PutPending(std::unique_lock<std::mutex>& lock);
    EtcdResult<std::int64_t> PutClaimed(const std::string& unit, const std::string& text);
    /// Keeps `kv` if it is newer than what is known; whether it changed the unit's state.
    bool Learn(const std::string& unit, const std::string& text, std::int64_t revision);
    /// Shows the unit as no gateway drives it, its owner's lease gone; whether it was known.
    bool Orphan(const std::string& unit, std::int64_t revision);
    void Tell(const std::vector<std::string>& units);

    EtcdClient& m_etcd;
    const std::vector<HttpPlace> m_members;
    const std::string m_prefix;  // "PREFIX state/" or "PREFIX jobs/"
    const Fed m_fed;
    const std::chrono::milliseconds m_limit;
    const Claim m_claim;
    const Told m_told;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::string, Known> m_known;  // as etcd holds them, by the last read, watch or put
    std::map<std::string, std::string> m_pending;
    bool m_watchEnded = false;
    bool m_stopping = false;
    std::thread m_thread;  // last: it starts when the rest is made
};

}  // namespace vantrel::gateway::cluster

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "gateway/net/http_client.h"
#include "groups/checked.h"

namespace vantrel::gateway::cluster {

/// Why etcd gave no answer, or not the one asked for.
enum class EtcdFault : std::uint8_t {
    kUnreachable,  // no member took the connection, or it broke before the answer (etcd down)
    kTimedOut,     // no whole answer within the time limit
    kBadReply,     // an answer that is not what the API gives: not JSON, a field missing
    kRejected,     // etcd refused the request, with its reason
    kNoLease,      // the lease named has expired or was revoked
};

struct EtcdError {
    EtcdFault fault;
    std::string text;  // for a person: the member and what went wrong
};

template <typename T>
using EtcdResult = groups::Checked<T, EtcdError>;

using LeaseId = std::int64_t;

struct KeyValue {
    std::string key;
    std::string value;
    std::int64_t modRevision = 0;
    LeaseId lease = 0;  // 0 when the key has none
};

/// A range's keys, and the store's revision they were read at: a watch from the revision after
/// it sees every later change.
struct RangeRead {
    std::vector<KeyValue> kvs;
    std::int64_t revision = 0;
};

struct GrantedLease {
    LeaseId id = 0;
    std::chrono::seconds ttl{0};  // as etcd granted it
};

/// What a transaction's put needs of its key, or of another key when `key` names one.
struct Condition {
    enum class Kind : std::uint8_t { kAbsent, kModRevision, kValue } kind;
    std::int64_t modRevision = 0;
    std::string value;
    std::string key;  // empty: the put's own key

    static Condition Absent() { return {Kind::kAbsent, 0, {}, {}}; }
    static Condition ModRevision(std::int64_t revision) {
        return {Kind::kModRevision, revision, {}, {}};
    }
    static Condition Value(std::string value) { return {Kind::kValue, 0, std::move(value), {}}; }
    static Condition ValueOf(std::string key, std::string value) {
        return {Kind::kValue, 0, std::move(value), std::move(key)};
    }
};

/// What etcd must hold for a put made on a holder's behalf, and the lease the put goes under.
struct Hold {
    Condition condition;
    LeaseId lease = 0;
};

/// What a lease holder asks of etcd; the lease keeper is tested on a fake of it.
class LeaseService {
  public:
    virtual ~LeaseService() = default;
    virtual EtcdResult<GrantedLease> Grant(std::chrono::seconds ttl) = 0;
    /// The lease's time to live from now.
    virtual EtcdResult<std::chrono::seconds> KeepAlive(LeaseId lease) = 0;
    virtual std::optional<EtcdError> Revoke(LeaseId lease) = 0;
};

/// etcd's v3 API over its JSON gateway (keys and values in base64, 64-bit numbers as strings).
/// Each call is one request within the time limit, to the member that answered last; when a
/// member cannot be reached, the next one is tried while time is left. Calls may come from
/// several threads at once, each on a connection of its own.
class EtcdClient : public LeaseService {
  public:
    EtcdClient(std::vector<HttpPlace> members, std::chrono::milliseconds limit);

    /// The store's revision after the put.
    EtcdResult<std::int64_t> Put(const std::string& key, const std::string& value,
                                 LeaseId lease = 0);
    /// The key alone; empty when it is not there.
    EtcdResult<RangeRead> Get(const std::string& key);
    EtcdResult<RangeRead> GetPrefix(const std::string& prefix);
    /// How many keys were deleted.
    EtcdResult<std::int64_t> Delete(const std::string& key);
    /// Puts `value` under `key` (with `lease`, if any) only if `condition` holds, in one
    /// transaction: the store's revision after the put, or 0 when the condition did not hold.
    EtcdResult<std::int64_t> PutIf(const std::string& key, const Condition& condition,
                                   const std::string& value, LeaseId lease = 0);

    EtcdResult<GrantedLease> Grant(std::chrono::seconds ttl) override;
    EtcdResult<std::chrono::seconds> KeepAlive(LeaseId lease) override;
    std::optional<EtcdError> Revoke(LeaseId lease) override;

  private:
    EtcdResult<std::string> Call(const std::string& target, const std::string& body);
    /// The call's answer as a JSON object.
    EtcdResult<nlohmann::json> Ask(const std::string& target, const nlohmann::json& request);

    const std::vector<HttpPlace> m_members;
    const std::chrono::milliseconds m_limit;
    std::atomic<std::size_t> m_current{0};
};

/// The end of the range of every key that starts with `prefix`, as etcd's range_end takes it.
std::string PrefixEnd(const std::string& prefix);
/// "etcd at A.B.C.D:PORT", as an error's text names the member.
std::string EtcdAt(const HttpPlace& member);

}  // namespace vantrel::gateway::cluster

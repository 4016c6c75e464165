#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "gateway/net/http_client.h"
#include "groups/checked.h"

namespace vantrel::gateway::cluster {

/// Why etcd gave no answer, or not the one asked for.
enum class EtcdFault : std::uint8_t {
    kUnreachable,   // no member took the connection, or it broke before the answer (etcd down)
    kTimedOut,      // no whole answer within the time limit
    kBadReply,      // an answer that is not what the API gives: not JSON, a field missing
    kRejected,      // etcd refused the request, with its reason
    kNoLease,       // the lease named has expired or was revoked
    kUntrusted,     // TLS failed: etcd's certificate was not trusted, or etcd refused this one's
    kUnauthorized,  // etcd refused the user's name or password, or what the user asked
};

/// Whether the fault lies in how this gateway reaches etcd (its certificates, its user), which
/// waiting does not mend.
inline bool InSetUp(EtcdFault fault) {
    return fault == EtcdFault::kUntrusted || fault == EtcdFault::kUnauthorized;
}

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

/// How the gateway reaches etcd beyond its members' addresses.
struct EtcdAccess {
    std::shared_ptr<const ClientTls> tls;  // for https:// members; the system's authorities if none
    std::string user;                      // etcd's own user; none when empty
    std::string password;
};

/// etcd's v3 API over its JSON gateway (keys and values in base64, 64-bit numbers as strings).
/// Each call is one request within the time limit, to the member that answered last; when a
/// member cannot be reached, the next one is tried while time is left. Calls may come from
/// several threads at once, each on a connection of its own. With a user, each call carries the
/// token etcd gave it, authenticated first when there is none; one etcd no longer takes
/// (expired, or etcd restarted) is replaced with a new one and the call made again, once. Each
/// of those requests has the time limit to itself.
class EtcdClient : public LeaseService {
  public:
    using Deadline = std::chrono::steady_clock::time_point;

    EtcdClient(std::vector<HttpPlace> members, std::chrono::milliseconds limit,
               EtcdAccess access = {});

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

    /// For a watch, which speaks to etcd itself: the TLS of the members, the token to carry
    /// (authenticated over `http` when there is none yet; empty without a user), and the token
    /// dropped, when etcd no longer takes it, unless a newer one has come meanwhile.
    const std::shared_ptr<const ClientTls>& Tls() const { return m_access.tls; }
    EtcdResult<std::string> Token(HttpClient& http, Deadline deadline);
    void Forget(const std::string& token);

  private:
    /// An answer, and the member that gave it.
    struct Sent {
        HttpAnswer answer;
        std::string where;
    };

    /// One request, to each member in turn from the one that answered last, until one answers
    /// or the deadline passes.
    Sent Post(HttpClient& http, const std::string& target, const std::string& body,
              const std::string& token, Deadline deadline);
    /// The answer's body, or what went wrong, `what` naming what etcd was asked.
    EtcdResult<std::string> Outcome(const Sent& sent, const std::string& what,
                                    bool authenticating) const;
    EtcdResult<std::string> Authenticate(HttpClient& http, Deadline deadline);
    EtcdResult<std::string> Call(const std::string& target, const std::string& body);
    /// The call's answer as a JSON object.
    EtcdResult<nlohmann::json> Ask(const std::string& target, const nlohmann::json& request);

    const std::vector<HttpPlace> m_members;
    const std::chrono::milliseconds m_limit;
    const EtcdAccess m_access;
    std::atomic<std::size_t> m_current{0};
    std::mutex m_tokenMutex;  // held while authenticating, so that calls wait for one token
    std::string m_token;
};

/// The end of the range of every key that starts with `prefix`, as etcd's range_end takes it.
std::string PrefixEnd(const std::string& prefix);
/// "etcd at A.B.C.D:PORT", as an error's text names the member.
std::string EtcdAt(const HttpPlace& member);

}  // namespace vantrel::gateway::cluster

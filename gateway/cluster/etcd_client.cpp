#include "gateway/cluster/etcd_client.h"

#include <nlohmann/json.hpp>

#include <optional>

#include "gateway/cluster/base64.h"
#include "gateway/cluster/etcd_json.h"

namespace vantrel::gateway::cluster {

using nlohmann::json;

namespace {

// etcd's gRPC status for a lease it does not have.
constexpr int kNotFound = 5;

EtcdError BadReply(const std::string& what) {
    return {EtcdFault::kBadReply, "etcd's answer " + what};
}

EtcdResult<RangeRead> ReadRange(const json& answer) {
    RangeRead read;
    const auto revision = Revision(answer);
    if (!revision) return BadReply("has no header");
    read.revision = *revision;
    const auto kvs = answer.find("kvs");
    if (kvs == answer.end()) return read;
    if (!kvs->is_array()) return BadReply("has keys that are not a list");
    for (const json& item : *kvs) {
        auto kv = ReadKeyValue(item);
        if (!kv) return BadReply("has a malformed key");
        read.kvs.push_back(std::move(*kv));
    }
    return read;
}

json RangeRequest(const std::string& key, const std::optional<std::string>& end) {
    json request{{"key", Base64(key)}};
    if (end) request["range_end"] = Base64(*end);
    return request;
}

json PutRequest(const std::string& key, const std::string& value, LeaseId lease) {
    json request{{"key", Base64(key)}, {"value", Base64(value)}};
    if (lease != 0) request["lease"] = std::to_string(lease);
    return request;
}

json Compare(const std::string& key, const Condition& condition) {
    json compare{{"key", Base64(condition.key.empty() ? key : condition.key)}, {"result", "EQUAL"}};
    switch (condition.kind) {
        case Condition::Kind::kAbsent:
            compare["target"] = "CREATE";
            compare["create_revision"] = "0";
            break;
        case Condition::Kind::kModRevision:
            compare["target"] = "MOD";
            compare["mod_revision"] = std::to_string(condition.modRevision);
            break;
        case Condition::Kind::kValue:
            compare["target"] = "VALUE";
            compare["value"] = Base64(condition.value);
            break;
    }
    return compare;
}

}  // namespace

std::string EtcdAt(const HttpPlace& member) {
    return "etcd at " + member.address + ":" + std::to_string(member.port);
}

std::string PrefixEnd(const std::string& prefix) {
    std::string end = prefix;
    // The first key after every one that starts with the prefix: its last byte that can be
    // raised, raised, and what follows it dropped; "\0" (every key) when none can.
    while (!end.empty() && static_cast<unsigned char>(end.back()) == 0xff) end.pop_back();
    if (end.empty()) return std::string(1, '\0');
    end.back() = static_cast<char>(static_cast<unsigned char>(end.back()) + 1);
    return end;
}

EtcdClient::EtcdClient(std::vector<HttpPlace> members, std::chrono::milliseconds limit)
    : m_members(std::move(members)), m_limit(limit) {}

EtcdResult<std::string> EtcdClient::Call(const std::string& target, const std::string& body) {
    if (m_members.empty()) return EtcdError{EtcdFault::kUnreachable, "no etcd member is given"};
    const auto deadline = std::chrono::steady_clock::now() + m_limit;
    // A connection of the call's own, so that a renewal never waits behind a long range.
    HttpClient http;
    HttpAnswer answer;
    answer.fault = HttpFault::kTimedOut;
    std::size_t member = m_current;
    for (std::size_t tried = 0; tried < m_members.size(); ++tried) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        member = (m_current + tried) % m_members.size();
        answer = http.Post(m_members[member], target, body, left);
        if (answer.fault != HttpFault::kUnreachable) break;
    }
    m_current = member;
    const std::string where = EtcdAt(m_members[member]);
    switch (answer.fault) {
        case HttpFault::kNone:
            break;
        case HttpFault::kTimedOut:
            return EtcdError{EtcdFault::kTimedOut, where + ": no answer within " +
                                                       std::to_string(m_limit.count()) + " ms"};
        case HttpFault::kUnreachable:
        case HttpFault::kStopped:
            return EtcdError{EtcdFault::kUnreachable, where + ": " + answer.error};
    }
    if (answer.status == 200) return std::move(answer.body);
    const json refusal = json::parse(answer.body, nullptr, false);
    const auto code = refusal.is_object() ? Number(refusal, "code") : std::nullopt;
    const std::string error = refusal.is_object() ? Text(refusal, "error") : std::string();
    const std::string reason =
        error.empty() ? "HTTP status " + std::to_string(answer.status) : error;
    return EtcdError{code == kNotFound ? EtcdFault::kNoLease : EtcdFault::kRejected,
                     where + " refused " + target + ": " + reason};
}

EtcdResult<json> EtcdClient::Ask(const std::string& target, const json& request) {
    auto body = Call(target, request.dump());
    if (!body.Ok()) return body.GetError();
    json answer = json::parse(body.Value(), nullptr, false);
    if (!answer.is_object()) return BadReply("to " + target + " is not a JSON object");
    return answer;
}

EtcdResult<std::int64_t> EtcdClient::Put(const std::string& key, const std::string& value,
                                         LeaseId lease) {
    const auto answer = Ask("/v3/kv/put", PutRequest(key, value, lease));
    if (!answer.Ok()) return answer.GetError();
    const auto revision = Revision(answer.Value());
    if (!revision) return BadReply("to a put has no header");
    return *revision;
}

EtcdResult<RangeRead> EtcdClient::Get(const std::string& key) {
    const auto answer = Ask("/v3/kv/range", RangeRequest(key, std::nullopt));
    if (!answer.Ok()) return answer.GetError();
    return ReadRange(answer.Value());
}

EtcdResult<RangeRead> EtcdClient::GetPrefix(const std::string& prefix) {
    const auto answer = Ask("/v3/kv/range", RangeRequest(prefix, PrefixEnd(prefix)));
    if (!answer.Ok()) return answer.GetError();
    return ReadRange(answer.Value());
}

EtcdResult<std::int64_t> EtcdClient::Delete(const std::string& key) {
    const auto answer = Ask("/v3/kv/deleterange", RangeRequest(key, std::nullopt));
    if (!answer.Ok()) return answer.GetError();
    const auto deleted = Number(answer.Value(), "deleted");
    if (!deleted) return BadReply("to a delete has a malformed count");
    return *deleted;
}

EtcdResult<std::int64_t> EtcdClient::PutIf(const std::string& key, const Condition& condition,
                                           const std::string& value, LeaseId lease) {
    const json request{
        {"compare", json::array({Compare(key, condition)})},
        {"success", json::array({{{"request_put", PutRequest(key, value, lease)}}})}};
    const auto answer = Ask("/v3/kv/txn", request);
    if (!answer.Ok()) return answer.GetError();
    // The gateway leaves out a field that holds its default: no "succeeded" is false.
    const json succeeded = answer.Value().value("succeeded", json(false));
    const auto revision = Revision(answer.Value());
    if (!succeeded.is_boolean() || !revision) return BadReply("to a transaction is malformed");
    return succeeded.get<bool>() ? *revision : 0;
}

EtcdResult<GrantedLease> EtcdClient::Grant(std::chrono::seconds ttl) {
    const auto answer = Ask("/v3/lease/grant", json{{"TTL", ttl.count()}});
    if (!answer.Ok()) return answer.GetError();
    const auto id = Number(answer.Value(), "ID");
    const auto granted = Number(answer.Value(), "TTL");
    if (!id || !granted || *id == 0 || *granted <= 0) return BadReply("to a grant is malformed");
    return GrantedLease{*id, std::chrono::seconds(*granted)};
}

EtcdResult<std::chrono::seconds> EtcdClient::KeepAlive(LeaseId lease) {
    const auto answer = Ask("/v3/lease/keepalive", json{{"ID", std::to_string(lease)}});
    if (!answer.Ok()) return answer.GetError();
    const auto result = answer.Value().find("result");
    if (result == answer.Value().end() || !result->is_object()) {
        return BadReply("to a renewal has no result");
    }
    const auto ttl = Number(*result, "TTL");
    if (!ttl) return BadReply("to a renewal is malformed");
    // A lease that is gone is renewed to no time at all.
    if (*ttl <= 0)
        return EtcdError{EtcdFault::kNoLease, "lease " + std::to_string(lease) + " has expired"};
    return std::chrono::seconds(*ttl);
}

std::optional<EtcdError> EtcdClient::Revoke(LeaseId lease) {
    const auto answer = Ask("/v3/lease/revoke", json{{"ID", std::to_string(lease)}});
    if (!answer.Ok()) return answer.GetError();
    return std::nullopt;
}

}  // namespace vantrel::gateway::cluster

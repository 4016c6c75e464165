#include "gateway/cluster/etcd_client.h"

#include <nlohmann/json.hpp>

#include <optional>

#include "gateway/cluster/base64.h"
#include "gateway/cluster/etcd_json.h"

namespace vantrel::gateway::cluster {

using nlohmann::json;

namespace {

// etcd's gRPC statuses: a lease it does not have, a user's name, password or token refused, and
// authentication asked of an etcd that does not have it on.
constexpr int kInvalidArgument = 3;
constexpr int kNotFound = 5;
constexpr int kPermissionDenied = 7;
constexpr int kFailedPrecondition = 9;
constexpr int kUnauthenticated = 16;

EtcdFault FaultOf(std::optional<std::int64_t> code, const std::string& error, bool authenticating) {
    if (code == kNotFound && !authenticating) return EtcdFault::kNoLease;
    if (code == kPermissionDenied || code == kUnauthenticated) return EtcdFault::kUnauthorized;
    if (authenticating && (code == kInvalidArgument || code == kFailedPrecondition)) {
        return EtcdFault::kUnauthorized;
    }
    // A call without a user to an etcd that wants one.
    if (error == "etcdserver: user name is empty") return EtcdFault::kUnauthorized;
    return EtcdFault::kRejected;
}

// etcd's refusal of a token it no longer takes.
bool TokenRefused(const HttpAnswer& answer) {
    if (!answer.Ok() || answer.status == 200) return false;
    const json refusal = json::parse(answer.body, nullptr, false);
    return refusal.is_object() && Number(refusal, "code") == kUnauthenticated;
}

// A refusal etcd's HTTP layer gives in words rather than as a gRPC status. It takes no client
// certificate with a Common Name on its JSON gateway once authentication is on.
EtcdError PlainRefusal(const HttpAnswer& answer, const std::string& where,
                       const std::string& what) {
    constexpr std::size_t kLongest = 200;
    std::string words = answer.body.substr(0, answer.body.find('\n')).substr(0, kLongest);
    if (words.empty()) words = "HTTP status " + std::to_string(answer.status);
    const bool certificate = words.find("CommonName") != std::string::npos;
    return {certificate ? EtcdFault::kUntrusted : EtcdFault::kRejected,
            where + " refused " + what + ": " + words +
                (certificate ? " (it takes a client certificate without one)" : "")};
}

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

EtcdClient::EtcdClient(std::vector<HttpPlace> members, std::chrono::milliseconds limit,
                       EtcdAccess access)
    : m_members(std::move(members)), m_limit(limit), m_access(std::move(access)) {}

EtcdClient::Sent EtcdClient::Post(HttpClient& http, const std::string& target,
                                  const std::string& body, const std::string& token,
                                  Deadline deadline) {
    Sent sent;
    if (m_members.empty()) {
        sent.answer.fault = HttpFault::kUnreachable;
        sent.answer.error = "no etcd member is given";
        sent.where = "etcd";
        return sent;
    }
    HttpCall call{"POST", target, {{"Content-Type", "application/json"}}, body};
    if (!token.empty()) call.headers.emplace_back("Authorization", token);
    sent.answer.fault = HttpFault::kTimedOut;
    std::size_t member = m_current;
    for (std::size_t tried = 0; tried < m_members.size(); ++tried) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        member = (m_current + tried) % m_members.size();
        sent.answer = http.Send(m_members[member], call, left);
        const HttpFault fault = sent.answer.fault;
        if (fault != HttpFault::kUnreachable && fault != HttpFault::kTls) break;
    }
    m_current = member;
    sent.where = EtcdAt(m_members[member]);
    return sent;
}

EtcdResult<std::string> EtcdClient::Outcome(const Sent& sent, const std::string& what,
                                            bool authenticating) const {
    const HttpAnswer& answer = sent.answer;
    switch (answer.fault) {
        case HttpFault::kNone:
            break;
        case HttpFault::kTimedOut:
            return EtcdError{EtcdFault::kTimedOut, sent.where + ": no answer within " +
                                                       std::to_string(m_limit.count()) + " ms"};
        case HttpFault::kTls:
            return EtcdError{EtcdFault::kUntrusted, sent.where + ": TLS: " + answer.error};
        case HttpFault::kUnreachable:
        case HttpFault::kStopped:
            return EtcdError{EtcdFault::kUnreachable, sent.where + ": " + answer.error};
    }
    if (answer.status == 200) return answer.body;
    const json refusal = json::parse(answer.body, nullptr, false);
    if (!refusal.is_object()) return PlainRefusal(answer, sent.where, what);
    const auto code = Number(refusal, "code");
    const std::string error = Text(refusal, "error");
    const std::string reason =
        error.empty() ? "HTTP status " + std::to_string(answer.status) : error;
    return EtcdError{FaultOf(code, error, authenticating),
                     sent.where + " refused " + what + ": " + reason};
}

EtcdResult<std::string> EtcdClient::Authenticate(HttpClient& http, Deadline deadline) {
    const json request{{"name", m_access.user}, {"password", m_access.password}};
    const Sent sent = Post(http, "/v3/auth/authenticate", request.dump(), "", deadline);
    const EtcdResult<std::string> body = Outcome(sent, "the user " + m_access.user, true);
    if (!body.Ok()) return body.GetError();
    const json answer = json::parse(body.Value(), nullptr, false);
    const std::string token = answer.is_object() ? Text(answer, "token") : std::string();
    if (token.empty()) return BadReply("to an authentication has no token");
    return token;
}

EtcdResult<std::string> EtcdClient::Token(HttpClient& http, Deadline deadline) {
    if (m_access.user.empty()) return std::string();
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    if (m_token.empty()) {
        const EtcdResult<std::string> made = Authenticate(http, deadline);
        if (!made.Ok()) return made;
        m_token = made.Value();
    }
    return m_token;
}

void EtcdClient::Forget(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    if (m_token == token) m_token.clear();
}

EtcdResult<std::string> EtcdClient::Call(const std::string& target, const std::string& body) {
    // Each request, an authentication among them, has the whole limit: etcd checks a password
    // slowly, on purpose.
    const auto deadline = [this] { return std::chrono::steady_clock::now() + m_limit; };
    // A connection of the call's own, so that a renewal never waits behind a long range.
    HttpClient http(m_access.tls);
    for (bool renewed = false;; renewed = true) {
        const EtcdResult<std::string> token = Token(http, deadline());
        if (!token.Ok()) return token.GetError();
        const Sent sent = Post(http, target, body, token.Value(), deadline());
        if (!renewed && !token.Value().empty() && TokenRefused(sent.answer)) {
            Forget(token.Value());
            continue;
        }
        return Outcome(sent, target, false);
    }
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

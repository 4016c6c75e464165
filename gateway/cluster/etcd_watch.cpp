#include "gateway/cluster/etcd_watch.h"

#include <nlohmann/json.hpp>

#include "gateway/cluster/base64.h"
#include "gateway/cluster/etcd_json.h"

namespace vantrel::gateway::cluster {

using nlohmann::json;

EtcdWatch::EtcdWatch(EtcdClient& etcd, const HttpPlace& member, const std::string& prefix,
                     std::int64_t fromRevision, std::chrono::milliseconds limit, Changes changes,
                     Ended ended)
    : m_etcd(etcd), m_changes(std::move(changes)), m_ended(std::move(ended)), m_http(etcd.Tls()) {
    json create{{"key", Base64(prefix)}, {"range_end", Base64(PrefixEnd(prefix))}};
    if (fromRevision > 0) create["start_revision"] = std::to_string(fromRevision);
    const std::string request = json{{"create_request", create}}.dump();
    m_thread = std::thread([this, member, request, limit] { Run(member, request, limit); });
}

EtcdWatch::~EtcdWatch() {
    m_going = true;
    m_http.Stop();
    m_thread.join();
}

void EtcdWatch::Run(const HttpPlace& member, const std::string& request,
                    std::chrono::milliseconds limit) {
    for (bool renewed = false;; renewed = true) {
        const EtcdResult<std::string> token =
            m_etcd.Token(m_http, std::chrono::steady_clock::now() + limit);
        const std::optional<EtcdError> error =
            token.Ok() ? Follow(member, request, limit, token.Value()) : token.GetError();
        if (!error || m_going) return;  // the watch is going
        // etcd checks the token only as the watch is made, so no change has come yet.
        if (!renewed && token.Ok() && !token.Value().empty() &&
            error->fault == EtcdFault::kUnauthorized) {
            m_etcd.Forget(token.Value());
            continue;
        }
        m_ended(*error);
        return;
    }
}

std::optional<EtcdError> EtcdWatch::Follow(const HttpPlace& member, const std::string& request,
                                           std::chrono::milliseconds limit,
                                           const std::string& token) {
    const std::string where = EtcdAt(member);
    HttpCall call{"POST", "/v3/watch", {{"Content-Type", "application/json"}}, request};
    if (!token.empty()) call.headers.emplace_back("Authorization", token);
    std::string pending;
    std::optional<EtcdError> error;
    // Each answer is a JSON object on a line of its own; the pieces need not follow the lines.
    const HttpAnswer answer = m_http.Stream(member, call, limit, [&](std::string_view piece) {
        pending.append(piece);
        for (auto end = pending.find('\n'); end != std::string::npos && !error;
             end = pending.find('\n')) {
            error = Take(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        return !error;
    });
    if (error) {
        error->text = where + ": " + error->text;
        return error;
    }
    switch (answer.fault) {
        case HttpFault::kStopped:
            return std::nullopt;
        case HttpFault::kTimedOut:
            return EtcdError{EtcdFault::kTimedOut, where + ": no answer to the watch"};
        case HttpFault::kTls:
            return EtcdError{EtcdFault::kUntrusted, where + ": TLS: " + answer.error};
        case HttpFault::kUnreachable:
            return EtcdError{EtcdFault::kUnreachable, where + ": " + answer.error};
        case HttpFault::kNone:
            break;
    }
    const EtcdFault fault = answer.status == 200   ? EtcdFault::kUnreachable
                            : answer.status == 401 ? EtcdFault::kUnauthorized
                                                   : EtcdFault::kRejected;
    return EtcdError{
        fault, where + " ended the watch (HTTP status " + std::to_string(answer.status) + ")"};
}

std::optional<EtcdError> EtcdWatch::Take(const std::string& line) {
    const json answer = json::parse(line, nullptr, false);
    const auto result = answer.is_object() ? answer.find("result") : answer.end();
    if (result == answer.end() || !result->is_object()) {
        const bool refused = answer.is_object() && answer.contains("error");
        return EtcdError{refused ? EtcdFault::kRejected : EtcdFault::kBadReply,
                         refused ? answer["error"].dump() : "a watch answer that is malformed"};
    }
    if (Flag(*result, "canceled")) {
        // How etcd refuses a watch the user may not make, or one whose token it no longer takes.
        const std::string reason = Text(*result, "cancel_reason");
        const bool refused = reason.find("permission denied") != std::string::npos ||
                             reason.find("invalid auth token") != std::string::npos;
        return EtcdError{refused ? EtcdFault::kUnauthorized : EtcdFault::kRejected,
                         "the watch was cancelled: " + reason};
    }
    const auto revision = Revision(*result);
    if (!revision) return EtcdError{EtcdFault::kBadReply, "a watch answer without a header"};
    const auto events = result->find("events");
    if (events == result->end()) return std::nullopt;  // the watch made, or etcd's progress
    if (!events->is_array()) return EtcdError{EtcdFault::kBadReply, "watch events not a list"};
    std::vector<WatchEvent> changes;
    for (const json& event : *events) {
        const auto kv = event.is_object() ? ReadKeyValue(event.value("kv", json())) : std::nullopt;
        if (!kv) return EtcdError{EtcdFault::kBadReply, "a watch event that is malformed"};
        changes.push_back({Text(event, "type") == "DELETE", *kv});
    }
    m_changes(changes, *revision);
    return std::nullopt;
}

}  // namespace vantrel::gateway::cluster

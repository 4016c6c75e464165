#include "gateway/cluster/etcd_watch.h"

#include <nlohmann/json.hpp>

#include "gateway/cluster/base64.h"
#include "gateway/cluster/etcd_json.h"

namespace vantrel::gateway::cluster {

using nlohmann::json;

EtcdWatch::EtcdWatch(const HttpPlace& member, const std::string& prefix, std::int64_t fromRevision,
                     std::chrono::milliseconds limit, Changes changes, Ended ended)
    : m_changes(std::move(changes)), m_ended(std::move(ended)) {
    json create{{"key", Base64(prefix)}, {"range_end", Base64(PrefixEnd(prefix))}};
    if (fromRevision > 0) create["start_revision"] = std::to_string(fromRevision);
    const std::string request = json{{"create_request", create}}.dump();
    m_thread = std::thread([this, member, request, limit] { Run(member, request, limit); });
}

EtcdWatch::~EtcdWatch() {
    m_http.Stop();
    m_thread.join();
}

void EtcdWatch::Run(const HttpPlace& member, const std::string& request,
                    std::chrono::milliseconds limit) {
    const std::string where = EtcdAt(member);
    std::string pending;
    std::optional<EtcdError> error;
    // Each answer is a JSON object on a line of its own; the pieces need not follow the lines.
    const HttpAnswer answer =
        m_http.PostStreaming(member, "/v3/watch", request, limit, [&](std::string_view piece) {
            pending.append(piece);
            for (auto end = pending.find('\n'); end != std::string::npos && !error;
                 end = pending.find('\n')) {
                error = Take(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
            if (error) m_http.Stop();
        });
    if (error) {
        error->text = where + ": " + error->text;
        m_ended(*error);
        return;
    }
    switch (answer.fault) {
        case HttpFault::kStopped:
            return;  // the watch is going
        case HttpFault::kTimedOut:
            m_ended({EtcdFault::kTimedOut, where + ": no answer to the watch"});
            return;
        case HttpFault::kUnreachable:
            m_ended({EtcdFault::kUnreachable, where + ": " + answer.error});
            return;
        case HttpFault::kNone:
            break;
    }
    m_ended({answer.status == 200 ? EtcdFault::kUnreachable : EtcdFault::kRejected,
             where + " ended the watch (HTTP status " + std::to_string(answer.status) + ")"});
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
        return EtcdError{EtcdFault::kRejected,
                         "the watch was cancelled: " + Text(*result, "cancel_reason")};
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

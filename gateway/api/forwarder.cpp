#include "gateway/api/forwarder.h"

#include <cstdio>

#include "gateway/api/command_reply.h"

namespace vantrel::gateway {
namespace {

bool Unreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Every byte of `text` but the unreserved ones and `separator` escaped.
std::string Escaped(const std::string& text, char separator) {
    std::string target;
    for (const char c : text) {
        if (c == separator || Unreserved(c)) {
            target += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            target += escaped;
        }
    }
    return target;
}

// The decoded path as a target again: the owner decodes the very segments this gateway matched.
std::string EscapedPath(const std::string& path) { return Escaped(path, '/'); }

}  // namespace

bool ForwardableUnit(const std::string& unit) {
    if (unit.empty() || unit == "." || unit == "..") return false;
    for (const char c : unit) {
        if (!Unreserved(c) || c == '~') return false;
    }
    return true;
}

HttpCall ForwardedCall(const HttpRequest& request, const std::string& self,
                       const std::string& key) {
    HttpCall call{request.method,
                  EscapedPath(request.path),
                  {{kForwardedBy, self}, {kClusterKey, key}},
                  request.body};
    if (!request.query.empty()) call.target += "?" + request.query;
    for (const char* kept : {"Authorization", "Content-Type", kPartOf, kOnBehalfOf}) {
        if (request.HasHeader(kept)) call.headers.emplace_back(kept, request.Header(kept));
    }
    return call;
}

std::string QueryValue(const std::string& value) { return Escaped(value, ','); }

HttpResponse NotServedHere(const std::string& why) {
    Reply reply = ErrorReply(503, why);
    reply.headers.emplace_back("Retry-After", "1");
    return ApiResponse(reply);
}

Forwarder::Forwarder(std::string self, const Limits& limits, std::string authorities)
    : m_self(std::move(self)), m_limits(limits) {
    for (std::size_t i = 0; i < m_limits.threads; ++i) {
        m_clients.push_back(std::make_unique<HttpClient>(authorities));
    }
    for (const auto& client : m_clients) {
        m_threads.emplace_back([this, &client = *client] { Run(client); });
    }
}

void Forwarder::SetKey(std::string key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_key = std::move(key);
}

void Forwarder::Close() {
    std::deque<Pending> unanswered;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) return;
        m_stopping = true;
        unanswered.swap(m_waiting);
    }
    m_ready.notify_all();
    for (const auto& client : m_clients) client->Stop();
    for (std::thread& thread : m_threads) thread.join();
    for (Pending& pending : unanswered) pending.respond(NotServedHere("this gateway is stopping"));
}

void Forwarder::Pass(const GatewayMember& owner, HttpRequest request, Respond respond) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stopping && m_waiting.size() < m_limits.mostWaiting) {
            m_waiting.push_back({owner, std::move(request), std::move(respond), m_key});
            m_ready.notify_one();
            return;
        }
    }
    respond(NotServedHere("too many commands wait on other gateways; send it again"));
}

void Forwarder::Run(HttpClient& client) {
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_stopping) return;
        Pending pending = std::move(m_waiting.front());
        m_waiting.pop_front();
        lock.unlock();
        pending.respond(Exchange(client, pending));
    }
}

HttpResponse Forwarder::Exchange(HttpClient& client, const Pending& pending) const {
    const GatewayMember& owner = pending.owner;
    const std::optional<HttpPlace> place = ParseUrl(owner.url);
    if (!place) return NotServedHere("the unit's gateway " + owner.id + " has no usable address");
    const HttpAnswer answer =
        client.Send(*place, ForwardedCall(pending.request, m_self, pending.key), m_limits.answer,
                    m_limits.connect);
    // Once the command has gone out, the owner may have run it: asking for it again could run
    // it twice (a second press undoes a first), so the client is told to read the unit first.
    if (!answer.Ok() && answer.sent) {
        return ApiResponse(ErrorReply(
            504, "the unit's gateway " + owner.id + " took the command but did not answer (" +
                     answer.error + "): read the unit's state before sending it again"));
    }
    if (!answer.Ok()) {
        return NotServedHere("the unit's gateway " + owner.id + " did not answer: " + answer.error);
    }
    HttpResponse response{static_cast<int>(answer.status),
                          HeaderValue(answer.headers, "Content-Type"),
                          answer.body,
                          {{"Cache-Control", "no-store"}},
                          nullptr};
    if (const std::string retry = HeaderValue(answer.headers, "Retry-After"); !retry.empty()) {
        response.headers.emplace_back("Retry-After", retry);
    }
    return response;
}

}  // namespace vantrel::gateway

#include "gateway/cluster/cluster_view.h"

#include <nlohmann/json.hpp>

namespace vantrel::gateway::cluster {
namespace {

constexpr std::chrono::milliseconds kWatchLimit{2000};

// A member's or an owner's key as the gateways write it; none when it is not that.
std::optional<GatewayMember> MemberOf(const std::string& value) {
    const nlohmann::json parsed = nlohmann::json::parse(value, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("id") || !parsed["id"].is_string()) {
        return std::nullopt;
    }
    return GatewayMember{parsed["id"].get<std::string>(), parsed.value("url", "")};
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

}  // namespace

ClusterView::ClusterView(EtcdClient& etcd, std::vector<HttpPlace> members, std::string prefix,
                         std::function<void()> changed)
    : m_etcd(etcd),
      m_places(std::move(members)),
      m_prefix(std::move(prefix)),
      m_changed(std::move(changed)) {}

ClusterView::~ClusterView() { m_watch.reset(); }

std::optional<EtcdError> ClusterView::Sync() {
    m_watch.reset();
    m_following = false;
    const auto read = m_etcd.GetPrefix(m_prefix);
    if (!read.Ok()) {
        m_place = (m_place + 1) % m_places.size();
        return read.GetError();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_members.clear();
        m_memberLeases.clear();
        m_owners.clear();
        for (const KeyValue& kv : read.Value().kvs) TakeOne(false, kv);
        // What changed while nothing followed it is not known: it is read again.
        m_stateChanged = true;
    }
    m_following = true;
    m_watch = std::make_unique<EtcdWatch>(
        m_etcd, m_places[m_place], m_prefix, read.Value().revision + 1, kWatchLimit,
        [this](const std::vector<WatchEvent>& events, std::int64_t) { Take(events); },
        [this](const EtcdError&) {
            m_following = false;
            m_changed();
        });
    m_changed();
    return std::nullopt;
}

std::map<std::string, GatewayMember> ClusterView::Members() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_members;
}

std::optional<LeaseId> ClusterView::MemberLease(const std::string& id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_memberLeases.find(id);
    if (found == m_memberLeases.end()) return std::nullopt;
    return found->second;
}

std::optional<OwnerKey> ClusterView::OwnerOf(const std::string& unit) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_owners.find(unit);
    if (found == m_owners.end()) return std::nullopt;
    return found->second;
}

bool ClusterView::TakeStateChange() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_stateChanged, false);
}

void ClusterView::Take(const std::vector<WatchEvent>& events) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const WatchEvent& event : events) TakeOne(event.deleted, event.kv);
    }
    m_changed();
}

void ClusterView::TakeOne(bool deleted, const KeyValue& kv) {
    if (!StartsWith(kv.key, m_prefix)) return;
    const std::string key = kv.key.substr(m_prefix.size());
    if (key == "units" || key == "assignments" || StartsWith(key, "snapshots/")) {
        m_stateChanged = true;
    } else if (StartsWith(key, "members/")) {
        const std::string id = key.substr(8);
        const std::optional<GatewayMember> member = MemberOf(kv.value);
        if (deleted || !member) {
            m_members.erase(id);
            m_memberLeases.erase(id);
        } else {
            m_members[id] = *member;
            m_memberLeases[id] = kv.lease;
        }
    } else if (StartsWith(key, "owners/")) {
        const std::string unit = key.substr(7);
        const std::optional<GatewayMember> owner = MemberOf(kv.value);
        if (deleted || !owner) {
            m_owners.erase(unit);
        } else {
            m_owners[unit] = {*owner, kv.lease};
        }
    }
}

}  // namespace vantrel::gateway::cluster

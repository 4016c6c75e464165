#include "gateway/cluster/state_feed.h"

#include "clients/report.h"

namespace vantrel::gateway::cluster {
namespace {

// How long a feed that lost etcd waits before it tries again.
constexpr std::chrono::seconds kRetry{1};

}  // namespace

StateFeed::StateFeed(EtcdClient& etcd, std::vector<HttpPlace> members, const std::string& prefix,
                     std::chrono::milliseconds limit, Claim claim, Told told, Fed fed)
    : m_etcd(etcd),
      m_members(std::move(members)),
      m_prefix(prefix + (fed == Fed::kUnits ? "state/" : "jobs/")),
      m_fed(fed),
      m_limit(limit),
      m_claim(std::move(claim)),
      m_told(std::move(told)),
      m_thread([this] { Run(); }) {}

StateFeed::~StateFeed() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void StateFeed::Changed(const std::string& unit, std::string state) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending[unit] = std::move(state);
    }
    m_wake.notify_all();
}

std::map<std::string, nlohmann::json> StateFeed::States() const {
    std::map<std::string, nlohmann::json> states;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [unit, known] : m_known) states.emplace(unit, known.state);
    return states;
}

std::optional<nlohmann::json> StateFeed::StateOf(const std::string& unit) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto known = m_known.find(unit);
    if (known == m_known.end()) return std::nullopt;
    return known->second.state;
}

// The watch is made anew, from a fresh read, whenever it ends: a read and a watch from the
// revision after it miss nothing, even what etcd compacted meanwhile.
void StateFeed::Run() {
    std::unique_ptr<EtcdWatch> watch;
    std::size_t next = 0;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_watchEnded) {
            lock.unlock();
            watch.reset();
            lock.lock();
            m_watchEnded = false;
        }
        bool failed = false;
        if (!watch) {
            lock.unlock();
            const std::optional<std::int64_t> revision = Read();
            if (revision) {
                watch = std::make_unique<EtcdWatch>(
                    m_etcd, m_members[next++ % m_members.size()], m_prefix, *revision + 1, m_limit,
                    [this](const std::vector<WatchEvent>& events, std::int64_t) { Take(events); },
                    [this](const EtcdError&) {
                        std::lock_guard<std::mutex> ended(m_mutex);
                        m_watchEnded = true;
                        m_wake.notify_all();
                    });
            }
            lock.lock();
            failed = !revision;
        }
        failed = !PutPending(lock) || failed;
        if (failed) {
            m_wake.wait_for(lock, kRetry, [this] { return m_stopping; });
        } else {
            m_wake.wait(lock, [this] { return m_stopping || m_watchEnded || !m_pending.empty(); });
        }
    }
    lock.unlock();
    watch.reset();
}

std::optional<std::int64_t> StateFeed::Read() {
    const EtcdResult<RangeRead> read = m_etcd.GetPrefix(m_prefix);
    if (!read.Ok()) return std::nullopt;
    std::vector<std::string> changed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::map<std::string, Known> before;
        before.swap(m_known);
        for (const KeyValue& kv : read.Value().kvs) {
            const std::string unit = kv.key.substr(m_prefix.size());
            const auto old = before.find(unit);
            if (old != before.end()) m_known.insert(*old);
            if (Learn(unit, kv.value, kv.modRevision)) changed.push_back(unit);
        }
    }
    Tell(changed);
    return read.Value().revision;
}

void StateFeed::Take(const std::vector<WatchEvent>& events) {
    std::vector<std::string> changed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const WatchEvent& event : events) {
            const std::string unit = event.kv.key.substr(m_prefix.size());
            if (event.deleted && m_fed == Fed::kJobs) {
                m_known.erase(unit);
            } else if (event.deleted) {
                if (Orphan(unit, event.kv.modRevision)) changed.push_back(unit);
            } else if (Learn(unit, event.kv.value, event.kv.modRevision)) {
                changed.push_back(unit);
            }
        }
    }
    Tell(changed);
}

bool StateFeed::Learn(const std::string& unit, const std::string& text, std::int64_t revision) {
    Known& known = m_known[unit];
    if (revision <= known.revision || text == known.text) {
        known.revision = std::max(known.revision, revision);
        return false;
    }
    nlohmann::json state = nlohmann::json::parse(text, nullptr, false);
    // What is not a unit's state was not put by a gateway: it is not shown.
    if (!state.is_object()) {
        m_known.erase(unit);
        return false;
    }
    known = {text, std::move(state), revision};
    return true;
}

bool StateFeed::Orphan(const std::string& unit, std::int64_t revision) {
    const auto found = m_known.find(unit);
    if (found == m_known.end() || revision <= found->second.revision) return false;
    Known& known = found->second;
    known.state["link"] = "down";
    known.state["reason"] = "the gateway that drove it is gone";
    known.state["since"] = clients::TimeText(std::chrono::system_clock::now());
    known.state["stale"] = true;
    known.text.clear();  // etcd holds none
    known.revision = revision;
    return true;
}

bool StateFeed::PutPending(std::unique_lock<std::mutex>& lock) {
    while (!m_pending.empty() && !m_stopping) {
        const auto first = m_pending.begin();
        const std::string unit = first->first;
        std::string text = std::move(first->second);
        m_pending.erase(first);
        const auto known = m_known.find(unit);
        if (known != m_known.end() ? known->second.text == text : text.empty()) continue;
        lock.unlock();
        const EtcdResult<std::int64_t> put =
            text.empty() ? m_etcd.Delete(m_prefix + unit) : PutClaimed(unit, text);
        lock.lock();
        // With its lease gone, this gateway drives the unit no more: its state is not put.
        if (!put.Ok() && put.GetError().fault == EtcdFault::kNoLease) continue;
        if (!put.Ok()) {
            m_pending.emplace(unit, std::move(text));  // unless a newer one came meanwhile
            return false;
        }
        if (text.empty()) {
            m_known.erase(unit);
        } else if (put.Value() != 0) {
            Learn(unit, text, put.Value());
        }
    }
    return true;
}

// 0, not put, when the unit is another gateway's now: its state is the new owner's to tell.
EtcdResult<std::int64_t> StateFeed::PutClaimed(const std::string& unit, const std::string& text) {
    if (!m_claim) return m_etcd.Put(m_prefix + unit, text);
    const std::optional<Hold> hold = m_claim(unit);
    if (!hold) return std::int64_t{0};
    return m_etcd.PutIf(m_prefix + unit, hold->condition, text, hold->lease);
}

void StateFeed::Tell(const std::vector<std::string>& units) {
    for (const std::string& unit : units) {
        if (const std::optional<nlohmann::json> state = StateOf(unit)) m_told(unit, *state);
    }
}

}  // namespace vantrel::gateway::cluster

#include "gateway/fleet/units.h"

#include <algorithm>
#include <iterator>

namespace vantrel::gateway {

UnitLinkMaker RealLinks(Clock& clock, MayWrite mayWrite, std::optional<std::uint32_t> source) {
    return
        [&clock, mayWrite, source](const clients::Target& unit, const std::atomic<int32_t>& stop) {
            clients::LinkOptions options;
            options.stop = &stop;
            options.source = source;
            options.clock = &clock;
            if (mayWrite) {
                options.wrapStream = [mayWrite](std::unique_ptr<ByteStream> stream) {
                    return std::make_unique<GuardedStream>(std::move(stream), mayWrite);
                };
                options.wrapDevice = [mayWrite](std::unique_ptr<SerialDevice> device) {
                    return std::make_unique<GuardedDevice>(std::move(device), mayWrite);
                };
            }
            return clients::MakeLink(unit, options);
        };
}

void Units::Add(const std::string& name, const clients::Target& target,
                UnitMonitor::Changed changed, UnitNaming naming) {
    groups::UnitEntry entry{name, naming.name, naming.labels};
    auto monitor = std::make_shared<UnitMonitor>(
        name, [&](const std::atomic<int32_t>& stop) { return m_makeLink(target, stop); }, m_options,
        std::move(changed), m_clock, std::move(naming));
    std::lock_guard<std::mutex> lock(m_listMutex);
    if (m_started) monitor->Start();
    m_list.entries.push_back(std::move(entry));
    m_list.monitors.push_back(std::move(monitor));
}

bool Units::Remove(const std::string& name, std::function<void()> gone) {
    std::shared_ptr<UnitMonitor> monitor;
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        auto& monitors = m_list.monitors;
        const auto at = std::find_if(monitors.begin(), monitors.end(),
                                     [&](const auto& held) { return held->Name() == name; });
        if (at == monitors.end()) return false;
        monitor = *at;
        m_list.entries.erase(m_list.entries.begin() + (at - monitors.begin()));
        monitors.erase(at);
        // Joined by the watch once it has ended: the thread may be in the middle of a command.
        m_removed.push_back({monitor, std::move(gone)});
    }
    // Those queued are answered now; the one that runs ends as the thread does.
    monitor->BeginStop();
    return true;
}

bool Units::Rename(const std::string& name, UnitNaming naming) {
    std::shared_ptr<UnitMonitor> monitor;
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        for (std::size_t i = 0; i < m_list.monitors.size(); ++i) {
            if (m_list.monitors[i]->Name() != name) continue;
            m_list.entries[i] = {name, naming.name, naming.labels};
            monitor = m_list.monitors[i];
        }
    }
    if (!monitor) return false;
    monitor->SetNaming(std::move(naming));
    return true;
}

std::shared_ptr<UnitMonitor> Units::Find(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_listMutex);
    for (const auto& monitor : m_list.monitors) {
        if (monitor->Name() == name) return monitor;
    }
    return nullptr;
}

std::vector<UnitSnapshot> Units::Snapshots() const {
    const std::vector<std::shared_ptr<UnitMonitor>> monitors = List().monitors;
    std::vector<UnitSnapshot> snapshots;
    snapshots.reserve(monitors.size());
    for (const auto& monitor : monitors) snapshots.push_back(monitor->Snapshot());
    return snapshots;
}

std::vector<groups::UnitEntry> Units::Entries() const {
    std::lock_guard<std::mutex> lock(m_listMutex);
    return m_list.entries;
}

UnitList Units::List() const {
    std::lock_guard<std::mutex> lock(m_listMutex);
    return m_list;
}

void Units::Start() {
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        m_started = true;
        for (const auto& monitor : m_list.monitors) monitor->Start();
    }
    m_watch = std::thread([this] { Watch(); });
}

void Units::BeginStop() {
    for (const auto& monitor : List().monitors) monitor->BeginStop();
}

std::vector<std::string> Units::Updating() const {
    std::vector<std::string> names;
    for (const auto& monitor : List().monitors) {
        if (monitor->Updating()) names.push_back(monitor->Name());
    }
    return names;
}

void Units::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_watch.joinable()) m_watch.join();
    // All are told first, so that the fleet stops in one wait rather than one per unit.
    const std::vector<std::shared_ptr<UnitMonitor>> monitors = List().monitors;
    for (const auto& monitor : monitors) monitor->RequestStop();
    for (const auto& monitor : monitors) monitor->Stop();
    EndRemoved(true);
}

void Units::EndRemoved(bool all) {
    std::vector<Removed> ended;
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        const auto still = std::stable_partition(
            m_removed.begin(), m_removed.end(),
            [all](const Removed& removed) { return !all && !removed.monitor->Ended(); });
        std::move(still, m_removed.end(), std::back_inserter(ended));
        m_removed.erase(still, m_removed.end());
    }
    for (Removed& removed : ended) {
        removed.monitor->Stop();
        if (!all && removed.gone) removed.gone();
    }
}

void Units::Watch() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_clock.WaitUntil(m_wake, lock, m_clock.Now() + kWatchPeriod,
                              [&] { return m_stopping; })) {
        lock.unlock();
        for (const auto& monitor : List().monitors) {
            monitor->CheckAnswered();
            monitor->CheckDeadlines(kWatchPeriod);
        }
        EndRemoved(false);
        lock.lock();
    }
}

}  // namespace vantrel::gateway

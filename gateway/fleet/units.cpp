#include "gateway/fleet/units.h"

namespace vantrel::gateway {

UnitLinkMaker RealLinks(Clock& clock) {
    return [&clock](const clients::Target& unit, const std::atomic<int32_t>& stop) {
        clients::LinkOptions options;
        options.stop = &stop;
        options.clock = &clock;
        return clients::MakeLink(unit, options);
    };
}

void Units::Add(const std::string& name, const clients::Target& target,
                UnitMonitor::Changed changed, UnitNaming naming) {
    m_entries.push_back({name, naming.name, naming.labels});
    m_monitors.push_back(std::make_unique<UnitMonitor>(
        name, [&](const std::atomic<int32_t>& stop) { return m_makeLink(target, stop); }, m_options,
        std::move(changed), m_clock, std::move(naming)));
}

UnitMonitor* Units::Find(const std::string& name) const {
    for (const auto& monitor : m_monitors) {
        if (monitor->Name() == name) return monitor.get();
    }
    return nullptr;
}

std::vector<UnitSnapshot> Units::Snapshots() const {
    std::vector<UnitSnapshot> snapshots;
    snapshots.reserve(m_monitors.size());
    for (const auto& monitor : m_monitors) snapshots.push_back(monitor->Snapshot());
    return snapshots;
}

void Units::Start() {
    for (const auto& monitor : m_monitors) monitor->Start();
    m_watch = std::thread([this] { Watch(); });
}

void Units::BeginStop() {
    for (const auto& monitor : m_monitors) monitor->BeginStop();
}

std::vector<std::string> Units::Updating() const {
    std::vector<std::string> names;
    for (const auto& monitor : m_monitors) {
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
    for (const auto& monitor : m_monitors) monitor->RequestStop();
    for (const auto& monitor : m_monitors) monitor->Stop();
}

void Units::Watch() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_clock.WaitUntil(m_wake, lock, m_clock.Now() + kWatchPeriod,
                              [&] { return m_stopping; })) {
        lock.unlock();
        for (const auto& monitor : m_monitors) {
            monitor->CheckAnswered();
            monitor->CheckDeadlines(kWatchPeriod);
        }
        lock.lock();
    }
}

}  // namespace vantrel::gateway

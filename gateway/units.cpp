#include "gateway/units.h"

namespace vantrel::gateway {

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
}

// All are told first, so that the whole fleet stops in one wait rather than one per unit.
void Units::Stop() {
    for (const auto& monitor : m_monitors) monitor->Stop();
}

}  // namespace vantrel::gateway

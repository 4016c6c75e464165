#include "gateway/fleet/unit_drift.h"

namespace vantrel::gateway {

std::optional<UnitDrift> DriftOf(const UnitSnapshot& state, const SnapshotBook& book) {
    std::optional<SnapshotBook::Desired> desired = book.DesiredOf(state.unit);
    if (!desired) return std::nullopt;
    UnitDrift drift;
    drift.snapshot = std::move(desired->snapshot);
    drift.wanted = std::move(desired->wanted);
    drift.down = state.link != LinkState::Up || !state.reading;
    if (drift.down || !drift.wanted) return drift;
    const UnitReading& reading = *state.reading;
    drift.live = groups::SettingsFrom(
        reading.status, drift.wanted->network ? std::optional(reading.network) : std::nullopt);
    drift.differing = groups::Differing(*drift.wanted, drift.live);
    return drift;
}

bool DriftWatch::Changed(const std::string& unit, const std::optional<UnitDrift>& drift) {
    if (drift && drift->down) return false;
    const bool drifting = drift && !drift->differing.empty();
    std::lock_guard<std::mutex> lock(m_mutex);
    bool& was = m_drifting[unit];
    const bool changed = was != drifting;
    was = drifting;
    return changed;
}

}  // namespace vantrel::gateway

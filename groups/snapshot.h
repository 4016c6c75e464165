#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "groups/checked.h"
#include "groups/safe_file.h"
#include "groups/unit_settings.h"

namespace vantrel::groups {

/// One unit's values in a snapshot.
struct UnitSnapshot {
    std::string unit;  // as the units file names it
    std::string name;  // "" when it has none
    UnitSettings settings;
};

/// How units were set at a moment, to diff them against or to bring them back to.
struct Snapshot {
    std::string name;
    std::string takenAt;  // UTC, as clients::TimeText writes it
    std::string takenBy;
    std::vector<UnitSnapshot> units;

    /// The unit's values; nullptr when the snapshot has none for it.
    const UnitSettings* Find(const std::string& unit) const;
};

enum class SnapshotFault : std::uint8_t {
    kCannotRead,
    kNotJson,
    kNotASnapshot,  // no format mark, or one of another version
    kBadField,      // a field missing or of the wrong kind, or an unknown setting
    kFingerprint,   // a unit's values that do not give its fingerprint: edited, or torn
};

struct SnapshotError {
    SnapshotFault fault;
    std::string text;  // what is at fault: the file, the field, the unit
};

std::string ErrorText(const SnapshotError& error);

/// A setting's value as the snapshot file writes it: a number, or the network's object; null
/// when the settings do not hold it.
nlohmann::json SettingJson(const UnitSettings& settings, Setting setting);

/// The snapshot file: docs/snapshots.md describes it. Each unit carries its fingerprint.
nlohmann::json SnapshotJson(const Snapshot& snapshot);
Checked<Snapshot, SnapshotError> SnapshotFromJson(const nlohmann::json& json);

Checked<Snapshot, SnapshotError> ReadSnapshotFile(const std::string& path);
/// Written safely (safe_file.h).
WriteStep WriteSnapshotFile(const std::string& path, const Snapshot& snapshot, FileCalls& calls);

}  // namespace vantrel::groups

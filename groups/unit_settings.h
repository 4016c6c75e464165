#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "unit/outcome.h"
#include "unit/unit_values.h"
#include "unit_link/unit_link.h"

namespace vantrel::groups {

/// What a snapshot holds of a unit: the values a person can set on it. Numbered in the order
/// that an apply sends them (a lamp going off goes before one going on; see PlanUnit).
enum class Setting : std::uint8_t {
    kInput,
    kMeterMode,
    kSoloLeft,
    kSoloRight,
    kMixDown,
    kVolume,
    kBrightness,
    kContrast,
    kSaturation,
    kNetwork,
};

/// As the API and the snapshot file name it: the status record's field or the level's name
/// ("input", "soloLeft", "volume", "lcd-brightness"), or "network".
const char* NameOf(Setting setting);
/// The setting by that name; nullopt when there is none.
std::optional<Setting> FindSetting(const std::string& name);
/// The level a setting is; nullopt for the others.
std::optional<Level> LevelOf(Setting setting);

/// The address mode and, for a static one, the addresses.
struct NetworkValues {
    AddressMode mode = AddressMode::Unknown;
    Addresses addresses;  // kStatic only

    bool operator==(const NetworkValues& other) const;
};

/// A unit's settable values. A lamp is 0 or 1, the meter mode 0 (VU) or 1 (DPPM), the input
/// and the levels as the status record gives them. A value left out is not set by an apply.
struct UnitSettings {
    std::map<Setting, std::int32_t> values;
    std::optional<NetworkValues> network;
};

/// The values a status read and, when given, a network read show.
UnitSettings SettingsFrom(const StatusBlock& status, const std::optional<NetworkSettings>& network);
/// Reads the unit's values now: its status and, when `network` is set, its network settings.
Result<UnitSettings> CaptureSettings(UnitLink& link, bool network);

/// A stable hash of the values, the same for the same values on every machine: eight hex
/// digits of the CRC-32 of their names and values.
std::string Fingerprint(const UnitSettings& settings);

/// The settings that `wanted` holds and `live` shows otherwise (or does not show), in order.
std::vector<Setting> Differing(const UnitSettings& wanted, const UnitSettings& live);

/// The setting's value for a person: "1", "static 127.0.0.2/255.255.255.0 via 127.0.0.1",
/// "dhcp"; "-" when the settings do not hold it.
std::string ValueText(const UnitSettings& settings, Setting setting);

}  // namespace vantrel::groups

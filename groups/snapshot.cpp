#include "groups/snapshot.h"

#include <fstream>

#include "clients/dotted_address.h"

namespace vantrel::groups {
namespace {

using nlohmann::json;

constexpr const char* kFormat = "vantrel-snapshot";
constexpr int kVersion = 1;

json NetworkJson(const NetworkValues& network) {
    if (network.mode == AddressMode::Dhcp) return {{"mode", "dhcp"}};
    return {{"mode", "static"},
            {"ip", clients::Dotted(network.addresses.ip)},
            {"mask", clients::Dotted(network.addresses.mask)},
            {"gateway", clients::Dotted(network.addresses.gateway)}};
}

bool NetworkFromJson(const json& in, NetworkValues& network) {
    if (!in.is_object()) return false;
    const json mode = in.value("mode", json());
    if (mode == "dhcp") {
        network.mode = AddressMode::Dhcp;
        return true;
    }
    network.mode = AddressMode::Static;
    auto address = [&](const char* field, std::uint32_t& value) {
        const json text = in.value(field, json());
        return text.is_string() && clients::ParseDotted(text.get<std::string>(), value);
    };
    return mode == "static" && address("ip", network.addresses.ip) &&
           address("mask", network.addresses.mask) && address("gateway", network.addresses.gateway);
}

// Any value a setting's range check can judge; one past it would wrap into a small one.
bool FitsValue(const json& value) {
    const std::int64_t number = value.get<std::int64_t>();
    return number >= -65536 && number <= 65536;
}

bool IsText(const json& in, const char* field) {
    return in.contains(field) && in[field].is_string();
}

Checked<UnitSnapshot, SnapshotError> UnitFromJson(const json& in) {
    if (!in.is_object() || !IsText(in, "unit") || !in.contains("settings") ||
        !in["settings"].is_object() || (in.contains("name") && !IsText(in, "name"))) {
        return SnapshotError{SnapshotFault::kBadField, "a unit needs unit and settings"};
    }
    UnitSnapshot unit{in["unit"], in.value("name", ""), {}};
    for (const auto& [name, value] : in["settings"].items()) {
        const std::optional<Setting> setting = FindSetting(name);
        if (setting == Setting::kNetwork) {
            NetworkValues network;
            if (!NetworkFromJson(value, network)) {
                return SnapshotError{SnapshotFault::kBadField, unit.unit + ": network"};
            }
            unit.settings.network = network;
        } else if (setting && value.is_number_integer() && FitsValue(value)) {
            unit.settings.values[*setting] = value.get<std::int32_t>();
        } else {
            return SnapshotError{SnapshotFault::kBadField, unit.unit + ": " + name};
        }
    }
    if (in.contains("fingerprint") && in["fingerprint"] != Fingerprint(unit.settings)) {
        return SnapshotError{SnapshotFault::kFingerprint, unit.unit};
    }
    return unit;
}

}  // namespace

const UnitSettings* Snapshot::Find(const std::string& unit) const {
    for (const UnitSnapshot& entry : units) {
        if (entry.unit == unit) return &entry.settings;
    }
    return nullptr;
}

std::string ErrorText(const SnapshotError& error) {
    switch (error.fault) {
        case SnapshotFault::kCannotRead:
            return "cannot read " + error.text;
        case SnapshotFault::kNotJson:
            return "not JSON: " + error.text;
        case SnapshotFault::kNotASnapshot:
            return "not a snapshot of this version: " + error.text;
        case SnapshotFault::kBadField:
            return "a field missing or not as a snapshot has it: " + error.text;
        case SnapshotFault::kFingerprint:
            return "the values do not match their fingerprint: " + error.text;
    }
    return "unknown";
}

json SettingJson(const UnitSettings& settings, Setting setting) {
    if (setting == Setting::kNetwork) {
        return settings.network ? NetworkJson(*settings.network) : json();
    }
    const auto found = settings.values.find(setting);
    return found == settings.values.end() ? json() : json(found->second);
}

json SnapshotJson(const Snapshot& snapshot) {
    json units = json::array();
    for (const UnitSnapshot& unit : snapshot.units) {
        json settings = json::object();
        for (const auto& [setting, value] : unit.settings.values) settings[NameOf(setting)] = value;
        if (unit.settings.network) {
            settings[NameOf(Setting::kNetwork)] = SettingJson(unit.settings, Setting::kNetwork);
        }
        units.push_back({{"unit", unit.unit},
                         {"name", unit.name},
                         {"fingerprint", Fingerprint(unit.settings)},
                         {"settings", settings}});
    }
    return {{"format", kFormat},           {"version", kVersion},         {"name", snapshot.name},
            {"takenAt", snapshot.takenAt}, {"takenBy", snapshot.takenBy}, {"units", units}};
}

Checked<Snapshot, SnapshotError> SnapshotFromJson(const json& in) {
    if (!in.is_object() || in.value("format", json()) != kFormat ||
        in.value("version", json()) != kVersion) {
        return SnapshotError{SnapshotFault::kNotASnapshot, "format and version"};
    }
    for (const char* field : {"name", "takenAt", "takenBy"}) {
        if (!IsText(in, field)) return SnapshotError{SnapshotFault::kBadField, field};
    }
    if (!in.contains("units") || !in["units"].is_array()) {
        return SnapshotError{SnapshotFault::kBadField, "units"};
    }
    Snapshot snapshot{in["name"], in["takenAt"], in["takenBy"], {}};
    for (const json& entry : in["units"]) {
        Checked<UnitSnapshot, SnapshotError> unit = UnitFromJson(entry);
        if (!unit.Ok()) return unit.GetError();
        snapshot.units.push_back(std::move(unit.Value()));
    }
    return snapshot;
}

Checked<Snapshot, SnapshotError> ReadSnapshotFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return SnapshotError{SnapshotFault::kCannotRead, path};
    const json parsed = json::parse(in, nullptr, false);
    if (parsed.is_discarded()) return SnapshotError{SnapshotFault::kNotJson, path};
    return SnapshotFromJson(parsed);
}

WriteStep WriteSnapshotFile(const std::string& path, const Snapshot& snapshot, FileCalls& calls) {
    return WriteFileSafely(path, SnapshotJson(snapshot).dump(2) + "\n", calls);
}

}  // namespace vantrel::groups

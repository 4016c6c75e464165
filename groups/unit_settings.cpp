#include "groups/unit_settings.h"

#include <cstdio>

#include "clients/dotted_address.h"
#include "clients/level_names.h"
#include "clients/report.h"
#include "firmware/crc32.h"

namespace vantrel::groups {
namespace {

struct StatusSetting {
    Setting setting;
    std::size_t byte;
};
constexpr StatusSetting kStatusBytes[] = {
    {Setting::kInput, status_byte::kInput},
    {Setting::kMeterMode, status_byte::kMeterMode},
    {Setting::kSoloLeft, status_byte::kSoloLeft},
    {Setting::kSoloRight, status_byte::kSoloRight},
    {Setting::kMixDown, status_byte::kMixDown},
    {Setting::kVolume, status_byte::kVolume},
    {Setting::kBrightness, status_byte::kBrightness},
    {Setting::kContrast, status_byte::kContrast},
    {Setting::kSaturation, status_byte::kSaturation},
};

// On or off, whatever non-zero value the unit reports for on; a meter mode other than VU is
// DPPM, as the reports show it.
bool IsOnOff(Setting setting) {
    return setting == Setting::kMeterMode || setting == Setting::kSoloLeft ||
           setting == Setting::kSoloRight || setting == Setting::kMixDown;
}

std::string NetworkText(const NetworkValues& network) {
    if (network.mode == AddressMode::Dhcp) return "dhcp";
    if (network.mode != AddressMode::Static) return "unknown";
    const Addresses& a = network.addresses;
    return "static " + clients::Dotted(a.ip) + "/" + clients::Dotted(a.mask) + " via " +
           clients::Dotted(a.gateway);
}

}  // namespace

std::optional<Level> LevelOf(Setting setting) {
    switch (setting) {
        case Setting::kVolume:
            return Level::Volume;
        case Setting::kBrightness:
            return Level::Brightness;
        case Setting::kContrast:
            return Level::Contrast;
        case Setting::kSaturation:
            return Level::Saturation;
        default:
            return std::nullopt;
    }
}

const char* NameOf(Setting setting) {
    if (const std::optional<Level> level = LevelOf(setting)) return clients::NameOf(*level);
    switch (setting) {
        case Setting::kInput:
            return "input";
        case Setting::kMeterMode:
            return "meterMode";
        case Setting::kSoloLeft:
            return clients::LampField(0);
        case Setting::kSoloRight:
            return clients::LampField(1);
        case Setting::kMixDown:
            return clients::LampField(2);
        default:
            return "network";
    }
}

std::optional<Setting> FindSetting(const std::string& name) {
    for (const StatusSetting& s : kStatusBytes) {
        if (name == NameOf(s.setting)) return s.setting;
    }
    if (name == NameOf(Setting::kNetwork)) return Setting::kNetwork;
    return std::nullopt;
}

bool NetworkValues::operator==(const NetworkValues& other) const {
    if (mode != other.mode) return false;
    if (mode != AddressMode::Static) return true;
    return addresses.ip == other.addresses.ip && addresses.mask == other.addresses.mask &&
           addresses.gateway == other.addresses.gateway;
}

UnitSettings SettingsFrom(const StatusBlock& status,
                          const std::optional<NetworkSettings>& network) {
    UnitSettings settings;
    for (const StatusSetting& s : kStatusBytes) {
        const std::int32_t value = status[s.byte];
        settings.values[s.setting] = IsOnOff(s.setting) ? value != 0 : value;
    }
    if (network) {
        NetworkValues values;
        values.mode = network->mode.value_or(AddressMode::Unknown);
        if (values.mode == AddressMode::Static) {
            values.addresses = {network->ip.value_or(0), network->mask.value_or(0),
                                network->gateway.value_or(0)};
        }
        settings.network = values;
    }
    return settings;
}

Result<UnitSettings> CaptureSettings(UnitLink& link, bool network) {
    const Result<StatusBlock> status = link.ReadStatus();
    if (!status.Ok()) return status.GetFailure();
    if (!network) return SettingsFrom(status.Value(), std::nullopt);
    const Result<NetworkSettings> read = link.ReadNetwork();
    if (!read.Ok()) return read.GetFailure();
    return SettingsFrom(status.Value(), read.Value());
}

std::string Fingerprint(const UnitSettings& settings) {
    std::string text;
    for (const auto& [setting, value] : settings.values) {
        text += std::string(NameOf(setting)) + "=" + std::to_string(value) + ";";
    }
    if (settings.network) text += "network=" + NetworkText(*settings.network) + ";";
    const std::uint32_t crc =
        firmware::Crc32(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(crc));
    return hex;
}

std::vector<Setting> Differing(const UnitSettings& wanted, const UnitSettings& live) {
    std::vector<Setting> differing;
    for (const auto& [setting, value] : wanted.values) {
        const auto now = live.values.find(setting);
        if (now == live.values.end() || now->second != value) differing.push_back(setting);
    }
    if (wanted.network && !(live.network && *live.network == *wanted.network)) {
        differing.push_back(Setting::kNetwork);
    }
    return differing;
}

std::string ValueText(const UnitSettings& settings, Setting setting) {
    if (setting == Setting::kNetwork) {
        return settings.network ? NetworkText(*settings.network) : "-";
    }
    const auto found = settings.values.find(setting);
    return found == settings.values.end() ? "-" : std::to_string(found->second);
}

}  // namespace vantrel::groups

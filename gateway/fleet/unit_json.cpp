#include "gateway/fleet/unit_json.h"

namespace vantrel::gateway {

nlohmann::json UnitJson(const UnitSnapshot& s) {
    nlohmann::json json;
    if (s.reading) {
        json = clients::StatusJson(s.unit, *s.reading, s.statusTime);
        json.erase("time");
        json["statusTime"] = clients::TimeText(s.statusTime);
        json["networkTime"] = clients::TimeText(s.networkTime);
        const bool versions = s.reading->versions.has_value();
        json["versionsTime"] =
            versions ? nlohmann::json(clients::TimeText(s.versionsTime)) : nullptr;
    } else {
        json["unit"] = s.unit;
        for (const char* field :
             {"soloLeft", "soloRight", "mixDown", "meterMode", "input", "levels", "statusTime",
              "ip", "mask", "gateway", "dhcp", "mac", "networkTime", "versionsTime"}) {
            json[field] = nullptr;
        }
    }
    json["name"] = s.naming.name.empty() ? nlohmann::json() : nlohmann::json(s.naming.name);
    json["labels"] = nlohmann::json::object();
    for (const auto& [key, value] : s.naming.labels) json["labels"][key] = value;
    json["link"] = LinkStateName(s.link);
    json["reason"] = s.reason;
    json["since"] = clients::TimeText(s.since);
    json["reconnects"] = s.reconnects;
    json["stale"] = s.link != LinkState::Up;
    return json;
}

nlohmann::json UnitValuesJson(const UnitSnapshot& s) {
    if (!s.reading) return nullptr;
    nlohmann::json json = clients::StatusJson(s.unit, *s.reading, s.statusTime);
    json.erase("time");
    json.erase("unit");
    return json;
}

std::string OutcomeEventData(const std::string& id, nlohmann::json told) {
    told["command"] = id;
    // A name from a request that is not UTF-8 is carried with replacement characters.
    return told.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace vantrel::gateway

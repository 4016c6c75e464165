#include "gateway/api/meta_json.h"

#include "clients/level_names.h"
#include "clients/report.h"
#include "unit/buttons.h"
#include "unit_link/unit_checks.h"

namespace vantrel::gateway {
namespace {

using nlohmann::json;

json ButtonJson(const Button& button) {
    json entry{{"name", button.name}, {"label", button.label}};
    switch (button.effect) {
        case ButtonEffect::Lamp:
            entry["kind"] = "lamp";
            break;
        case ButtonEffect::MeterMode:
            entry["kind"] = "meter-mode";
            break;
        case ButtonEffect::Input:
            entry["kind"] = "input";
            break;
        case ButtonEffect::LevelStep:
            entry["kind"] = "level-step";
            entry["level"] = clients::NameOf(static_cast<Level>(button.index));
            entry["step"] = button.direction == StepDirection::Up ? "up" : "down";
            break;
        default:
            entry["kind"] = "other";
    }
    return entry;
}

// The values that buttons of `effect` choose, in the order of their values, each with its button.
json ChoicesJson(ButtonEffect effect, const char* valueKey) {
    json list = json::array();
    for (std::uint8_t index = 0;; ++index) {
        const Button* button = ButtonFor(effect, index);
        if (!button) return list;
        json entry{{"label", button->label}, {"button", button->name}};
        entry[valueKey] =
            effect == ButtonEffect::Lamp ? json(clients::LampField(index)) : json(index);
        list.push_back(entry);
    }
}

}  // namespace

json MetaJson() {
    json buttons = json::array();
    for (const Button& button : kButtons) {
        // A factory reset has its own route, which asks for a confirmation.
        if (button.effect != ButtonEffect::FactoryReset) buttons.push_back(ButtonJson(button));
    }
    json levels = json::array();
    for (const Level level : clients::kAllLevels) {
        levels.push_back({{"name", clients::NameOf(level)},
                          {"label", clients::LabelOf(level)},
                          {"highest", RangeOf(level).highest}});
    }
    return {{"buttons", buttons},
            {"levels", levels},
            {"inputs", ChoicesJson(ButtonEffect::Input, "value")},
            {"meterModes", ChoicesJson(ButtonEffect::MeterMode, "value")},
            {"lamps", ChoicesJson(ButtonEffect::Lamp, "field")}};
}

}  // namespace vantrel::gateway

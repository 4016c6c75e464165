#include "gateway/emberplus/ember_tree.h"

#include "clients/dotted_address.h"
#include "clients/level_names.h"
#include "clients/report.h"
#include "unit/console_reply.h"
#include "unit_link/unit_checks.h"

namespace vantrel::gateway::ember_tree {
namespace {

using ember::Access;
using ember::ParameterType;
using ember::Value;

struct ParameterShape {
    const char* identifier;
    ParameterType type;
    bool writable;
    std::int64_t highest;  // integers and enums
};

// A level is named as the API names it.
ParameterShape LevelShape(Level level) {
    return {clients::NameOf(level), ParameterType::kInteger, true, RangeOf(level).highest};
}

// By number, from 1.
const ParameterShape kShapes[kLastParameter] = {
    {"online", ParameterType::kBoolean, false, 0},
    LevelShape(Level::Volume),
    LevelShape(Level::Brightness),
    LevelShape(Level::Contrast),
    LevelShape(Level::Saturation),
    {"input", ParameterType::kEnum, true, 3},
    {"meter-mode", ParameterType::kEnum, true, 1},
    {"solo-left", ParameterType::kBoolean, true, 0},
    {"solo-right", ParameterType::kBoolean, true, 0},
    {"mix-down", ParameterType::kBoolean, true, 0},
    {"ip", ParameterType::kString, false, 0},
    {"mask", ParameterType::kString, false, 0},
    {"gateway", ParameterType::kString, false, 0},
    {"mac", ParameterType::kString, false, 0},
};

// An enum's names, one a line, from the buttons that choose its values: value i names what
// ButtonFor(effect, i) selects, the button a set presses.
std::string Choices(ButtonEffect effect) {
    std::string names;
    for (std::uint8_t index = 0; const Button* button = ButtonFor(effect, index); ++index) {
        if (index > 0) names += '\n';
        names += button->label;
    }
    return names;
}

std::string AddressText(const std::optional<std::uint32_t>& address) {
    return address ? clients::Dotted(*address) : "unknown";
}

// A published state's field; null when it has none.
const nlohmann::json& Field(const nlohmann::json& state, const char* name) {
    static const nlohmann::json none;
    const auto found = state.find(name);
    return found == state.end() ? none : *found;
}

std::optional<std::int64_t> Integer(const nlohmann::json& value) {
    if (!value.is_number_integer()) return std::nullopt;
    return value.get<std::int64_t>();
}

}  // namespace

Place Resolve(const std::vector<std::uint32_t>& path, std::size_t units) {
    using Kind = Place::Kind;
    if (path.empty() || path[0] != 1) return {};
    if (path.size() == 1) return {Kind::kVantrel};
    if (path[1] != 1) return {};
    if (path.size() == 2) return {Kind::kUnits};
    if (path[2] < 1 || path[2] > units) return {};
    const std::size_t unit = path[2] - 1;
    if (path.size() == 3) return {Kind::kUnit, unit};
    const std::uint32_t child = path[3];
    if (path.size() == 4 && child >= 1 && child <= kLastParameter) {
        return {Kind::kParameter, unit, child};
    }
    if (child != kButtonsNode) return {};
    if (path.size() == 4) return {Kind::kButtons, unit};
    if (path.size() == 5 && path[4] >= 1 && path[4] <= Buttons().size()) {
        return {Kind::kButton, unit, path[4]};
    }
    return {};
}

std::vector<std::uint32_t> UnitPath(std::size_t unit) {
    return {1, 1, static_cast<std::uint32_t>(unit + 1)};
}

std::string Identifier(const std::string& unitName) {
    std::string identifier = unitName;
    for (char& c : identifier) {
        if (c == '.' || c == '/' || c == ':') c = '_';
    }
    return identifier;
}

const std::vector<const Button*>& Buttons() {
    static const std::vector<const Button*> buttons = [] {
        std::vector<const Button*> pressable;
        for (const Button& button : kButtons) {
            if (button.effect != ButtonEffect::FactoryReset) pressable.push_back(&button);
        }
        return pressable;
    }();
    return buttons;
}

ember::NodeContents VantrelContents() { return {"vantrel", "Vantrel units", true, std::nullopt}; }
ember::NodeContents UnitsContents() { return {"units", std::nullopt, std::nullopt, std::nullopt}; }
ember::NodeContents UnitContents(const std::string& name, const std::string& description,
                                 bool online) {
    return {Identifier(name), description, std::nullopt, online};
}
ember::NodeContents ButtonsContents() {
    return {"buttons", std::nullopt, std::nullopt, std::nullopt};
}

UnitValues Values(const UnitSnapshot& unit) {
    UnitValues values(kLastParameter + 1);
    values[kOnline] = unit.link == LinkState::Up;
    if (!unit.reading) return values;
    namespace b = status_byte;
    const StatusBlock& s = unit.reading->status;
    const std::size_t integers[] = {b::kVolume, b::kBrightness, b::kContrast, b::kSaturation,
                                    b::kInput};
    for (std::uint32_t i = 0; i < 5; ++i) {
        values[kVolume + i] = static_cast<std::int64_t>(s[integers[i]]);
    }
    values[kMeterMode] = std::int64_t{s[b::kMeterMode] != 0 ? 1 : 0};
    const std::size_t lamps[] = {b::kSoloLeft, b::kSoloRight, b::kMixDown};
    for (std::uint32_t i = 0; i < 3; ++i) values[kSoloLeft + i] = s[lamps[i]] != 0;
    const NetworkSettings& n = unit.reading->network;
    values[kIp] = AddressText(n.ip);
    values[kIp + 1] = AddressText(n.mask);
    values[kIp + 2] = AddressText(n.gateway);
    if (n.mac) {
        char mac[13];
        FormatMac(*n.mac, mac);
        values[kIp + 3] = std::string(mac);
    } else {
        values[kIp + 3] = std::string("unknown");
    }
    return values;
}

// The fields as clients::StatusJson writes them, read back as Values(UnitSnapshot) reads the
// status block; a field that is not what a gateway writes is left without a value.
UnitValues Values(const nlohmann::json& published) {
    UnitValues values(kLastParameter + 1);
    values[kOnline] = Field(published, "link") == "up";
    const nlohmann::json& levels = Field(published, "levels");
    // Null before its owner's first read, as a snapshot's reading is.
    if (!levels.is_array() || levels.size() != 4) return values;
    for (std::uint32_t i = 0; i < 4; ++i) {
        if (const auto level = Integer(levels[i])) values[kVolume + i] = *level;
    }
    if (const auto input = Integer(Field(published, "input"))) values[kInput] = *input;
    if (const auto mode = Integer(Field(published, "meterMode"))) {
        values[kMeterMode] = std::int64_t{*mode != 0 ? 1 : 0};
    }
    for (std::uint8_t i = 0; i < 3; ++i) {
        if (const auto lamp = Integer(Field(published, clients::LampField(i)))) {
            values[kSoloLeft + i] = *lamp != 0;
        }
    }
    const char* const texts[] = {"ip", "mask", "gateway", "mac"};
    for (std::uint32_t i = 0; i < 4; ++i) {
        const nlohmann::json& text = Field(published, texts[i]);
        if (text.is_string()) values[kIp + i] = text.get<std::string>();
    }
    return values;
}

const char* ParameterName(std::uint32_t number) { return kShapes[number - 1].identifier; }

ember::ParameterContents ParameterContents(std::uint32_t number, std::optional<Value> value,
                                           bool readOnly) {
    const ParameterShape& shape = kShapes[number - 1];
    ember::ParameterContents p;
    p.identifier = shape.identifier;
    p.type = shape.type;
    p.access = shape.writable && !readOnly ? Access::kReadWrite : Access::kRead;
    p.value = std::move(value);
    if (shape.type == ParameterType::kInteger) {
        p.minimum = 0;
        p.maximum = shape.highest;
    }
    if (number == kInput) p.enumeration = Choices(ButtonEffect::Input);
    if (number == kMeterMode) p.enumeration = Choices(ButtonEffect::MeterMode);
    return p;
}

ember::FunctionContents ButtonContents(std::uint32_t number) {
    ember::FunctionContents f;
    f.identifier = Buttons()[number - 1]->name;
    f.arguments = std::vector<ember::TupleItem>{};
    f.result = std::vector<ember::TupleItem>{{ParameterType::kBoolean, "confirmed"}};
    return f;
}

std::vector<ember::Element> UnitChildren(const UnitValues& values, bool readOnly) {
    std::vector<ember::Element> children;
    for (std::uint32_t number = 1; number <= kLastParameter; ++number) {
        ember::Element parameter = ember::NumberedElement(ember::ElementKind::kParameter, number);
        parameter.contents = ParameterContents(number, values[number], readOnly);
        children.push_back(std::move(parameter));
    }
    ember::Element buttons = ember::NumberedElement(ember::ElementKind::kNode, kButtonsNode);
    buttons.contents = ButtonsContents();
    children.push_back(std::move(buttons));
    return children;
}

std::vector<ember::Element> ButtonFunctions() {
    std::vector<ember::Element> functions;
    for (std::uint32_t number = 1; number <= Buttons().size(); ++number) {
        ember::Element function = ember::NumberedElement(ember::ElementKind::kFunction, number);
        function.contents = ButtonContents(number);
        functions.push_back(std::move(function));
    }
    return functions;
}

std::optional<std::int64_t> Settable(std::uint32_t number, const Value& value) {
    const ParameterShape& shape = kShapes[number - 1];
    if (!shape.writable) return std::nullopt;
    if (shape.type == ParameterType::kBoolean) {
        if (const bool* flag = std::get_if<bool>(&value)) return *flag ? 1 : 0;
        return std::nullopt;
    }
    const std::int64_t* integer = std::get_if<std::int64_t>(&value);
    if (!integer || *integer < 0 || *integer > shape.highest) return std::nullopt;
    return *integer;
}

}  // namespace vantrel::gateway::ember_tree

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ember/glow.h"
#include "gateway/fleet/unit_snapshot.h"
#include "unit/buttons.h"

namespace vantrel::gateway {

/// The provider's tree: vantrel (1) / units (1) / one node per unit (1..) / its parameters
/// (1..14) and its buttons node (15) of functions. Numbers never change, so a control system
/// keeps its paths across restarts.
namespace ember_tree {

constexpr std::uint32_t kOnline = 1;
constexpr std::uint32_t kVolume = 2;
constexpr std::uint32_t kInput = 6;
constexpr std::uint32_t kMeterMode = 7;
constexpr std::uint32_t kSoloLeft = 8;
constexpr std::uint32_t kMixDown = 10;
constexpr std::uint32_t kIp = 11;  // then mask, gateway and mac
constexpr std::uint32_t kLastParameter = 14;
constexpr std::uint32_t kButtonsNode = 15;

/// Where a path leads.
struct Place {
    enum class Kind : std::uint8_t {
        kNone,
        kVantrel,
        kUnits,
        kUnit,
        kParameter,
        kButtons,
        kButton
    };
    Kind kind = Kind::kNone;
    std::size_t unit = 0;      // from 0, in the order the units were given
    std::uint32_t number = 0;  // the parameter's or the button's
};
Place Resolve(const std::vector<std::uint32_t>& path, std::size_t units);
std::vector<std::uint32_t> UnitPath(std::size_t unit);

/// A unit's identifier: its name with '.', '/' and ':' as '_'.
std::string Identifier(const std::string& unitName);
/// The buttons a function presses, numbered from 1: those `vantrelctl press` takes.
const std::vector<const Button*>& Buttons();

ember::NodeContents VantrelContents();
ember::NodeContents UnitsContents();
ember::NodeContents UnitContents(const std::string& name, const std::string& description,
                                 bool online);
ember::NodeContents ButtonsContents();
/// A parameter's identifier, by its number.
const char* ParameterName(std::uint32_t number);
/// A parameter holding `value` (its entry in Values); every one reads only when `readOnly`.
ember::ParameterContents ParameterContents(std::uint32_t number, std::optional<ember::Value> value,
                                           bool readOnly);
ember::FunctionContents ButtonContents(std::uint32_t number);
/// Every parameter's value, by number from 1 (0 unused); none before the unit's first read.
using UnitValues = std::vector<std::optional<ember::Value>>;
UnitValues Values(const UnitSnapshot& unit);
/// The same of a unit that another gateway drives, from the state its owner published (as
/// GET /api/units/{unit} gives it): what its own snapshot would give there.
UnitValues Values(const nlohmann::json& published);

/// A unit's parameters, holding `values`, and its buttons node, each numbered under the unit.
std::vector<ember::Element> UnitChildren(const UnitValues& values, bool readOnly);
std::vector<ember::Element> ButtonFunctions();

/// The value a set asks for, checked against the parameter's type and range; none when the
/// parameter cannot be set to it.
std::optional<std::int64_t> Settable(std::uint32_t number, const ember::Value& value);

}  // namespace ember_tree
}  // namespace vantrel::gateway

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "groups/checked.h"
#include "groups/units_file.h"

namespace vantrel::groups {

/// `key=value` holds when the unit has that label with that value; `key!=value` when it has
/// not (a unit without the label holds it). The key `name` is the unit's name.
struct LabelTerm {
    std::string key;
    std::string value;
    bool equal = true;
};

/// Which units a command is for: all of them, some named (by unit or name), or those whose
/// labels hold every term.
struct Selector {
    enum class Kind : std::uint8_t { kAll, kUnits, kLabels };
    Kind kind = Kind::kAll;
    std::vector<std::string> units;  // kUnits
    std::vector<LabelTerm> terms;    // kLabels
};

enum class SelectorFault : std::uint8_t {
    kEmpty,    // nothing, or an empty item between commas
    kBadTerm,  // a term whose key or value is missing
    kMixed,    // units and label terms together
};

struct SelectorError {
    SelectorFault fault;
    std::string text;  // the item at fault
};

/// "all", "127.0.0.2", "qc-1,qc-2", "site=studio-a,role=qc", "role!=spare".
Checked<Selector, SelectorError> ParseSelector(const std::string& text);

/// How many units a selector may pick before it needs their count confirmed.
constexpr std::size_t kDefaultMostUnits = 64;

struct SelectLimits {
    std::size_t most = kDefaultMostUnits;
    std::optional<std::size_t> confirm;  // the count the person expects to act on
};

enum class SelectFault : std::uint8_t {
    kUnknownUnit,     // a unit named that is not one of the units
    kNoMatch,         // the selector picks no unit
    kNeedsConfirm,    // more than `most`, and no count confirmed
    kConfirmDiffers,  // a confirmed count that is not the count picked
};

struct SelectError {
    SelectFault fault;
    std::string text;         // kUnknownUnit: the unit as named
    std::size_t matched = 0;  // how many the selector picks
};

/// A few words for a person: "the selector matches 70 units; confirm 70 to act on them".
std::string ErrorText(const SelectError& error);
std::string ErrorText(const SelectorError& error);

/// The indices of the units picked, in the units' order.
Checked<std::vector<std::size_t>, SelectError> Select(const Selector& selector,
                                                      const std::vector<UnitEntry>& units,
                                                      const SelectLimits& limits = {});

}  // namespace vantrel::groups

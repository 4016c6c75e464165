#include "groups/selector.h"

#include <algorithm>

namespace vantrel::groups {
namespace {

std::vector<std::string> Items(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

bool Holds(const LabelTerm& term, const UnitEntry& unit) {
    const std::string* value = term.key == "name" ? &unit.name : unit.Label(term.key);
    const bool same = value && *value == term.value;
    return same == term.equal;
}

bool Named(const std::string& item, const UnitEntry& unit) {
    return item == unit.unit || (!unit.name.empty() && item == unit.name);
}

}  // namespace

Checked<Selector, SelectorError> ParseSelector(const std::string& text) {
    Selector selector;
    if (text == "all") return selector;
    for (const std::string& item : Items(text)) {
        if (item.empty()) return SelectorError{SelectorFault::kEmpty, text};
        const std::size_t equals = item.find('=');
        const bool isTerm = equals != std::string::npos;
        const Selector::Kind kind = isTerm ? Selector::Kind::kLabels : Selector::Kind::kUnits;
        if (selector.kind != Selector::Kind::kAll && selector.kind != kind) {
            return SelectorError{SelectorFault::kMixed, text};
        }
        selector.kind = kind;
        if (!isTerm) {
            selector.units.push_back(item);
            continue;
        }
        const bool equal = equals == 0 || item[equals - 1] != '!';
        LabelTerm term{item.substr(0, equal ? equals : equals - 1), item.substr(equals + 1), equal};
        if (term.key.empty() || term.value.empty()) {
            return SelectorError{SelectorFault::kBadTerm, item};
        }
        selector.terms.push_back(std::move(term));
    }
    return selector;
}

std::string ErrorText(const SelectorError& error) {
    switch (error.fault) {
        case SelectorFault::kEmpty:
            return "an empty selector, or an empty item in it: " + error.text;
        case SelectorFault::kBadTerm:
            return "a label term needs key=value or key!=value: " + error.text;
        case SelectorFault::kMixed:
            return "give units or label terms, not both: " + error.text;
    }
    return "unknown";
}

std::string ErrorText(const SelectError& error) {
    const std::string count = std::to_string(error.matched);
    switch (error.fault) {
        case SelectFault::kUnknownUnit:
            return "no such unit: " + error.text;
        case SelectFault::kNoMatch:
            return "the selector matches no unit";
        case SelectFault::kNeedsConfirm:
            return "the selector matches " + count + " units; confirm " + count + " to act on them";
        case SelectFault::kConfirmDiffers:
            return "the selector matches " + count + " units, not the count confirmed";
    }
    return "unknown";
}

Checked<std::vector<std::size_t>, SelectError> Select(const Selector& selector,
                                                      const std::vector<UnitEntry>& units,
                                                      const SelectLimits& limits) {
    std::vector<bool> picked(units.size(), selector.kind == Selector::Kind::kAll);
    for (const std::string& item : selector.units) {
        const auto found = std::find_if(units.begin(), units.end(),
                                        [&](const UnitEntry& unit) { return Named(item, unit); });
        if (found == units.end()) return SelectError{SelectFault::kUnknownUnit, item};
        picked[found - units.begin()] = true;
    }
    if (selector.kind == Selector::Kind::kLabels) {
        for (std::size_t i = 0; i < units.size(); ++i) {
            picked[i] = std::all_of(selector.terms.begin(), selector.terms.end(),
                                    [&](const LabelTerm& term) { return Holds(term, units[i]); });
        }
    }
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (picked[i]) indices.push_back(i);
    }
    const std::size_t count = indices.size();
    if (count == 0) return SelectError{SelectFault::kNoMatch, "", 0};
    if (limits.confirm && *limits.confirm != count) {
        return SelectError{SelectFault::kConfirmDiffers, "", count};
    }
    if (count > limits.most && !limits.confirm) {
        return SelectError{SelectFault::kNeedsConfirm, "", count};
    }
    return indices;
}

}  // namespace vantrel::groups

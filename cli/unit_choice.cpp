#include "cli/unit_choice.h"

#include "groups/selector.h"

namespace vantrel::cli {

groups::Checked<std::vector<groups::UnitEntry>, std::string> ChooseUnits(
    const UnitChoice& choice, const groups::Snapshot* snapshot) {
    std::vector<groups::UnitEntry> known;
    if (!choice.unitsFile.empty()) {
        const auto read = groups::ReadUnitsFile(choice.unitsFile);
        if (!read.Ok()) return groups::ErrorText(choice.unitsFile, read.GetError());
        known = read.Value().Units();
    }
    for (const std::string& unit : choice.units) known.push_back({unit, "", {}});
    if (known.empty() && snapshot) {
        for (const groups::UnitSnapshot& unit : snapshot->units) {
            known.push_back({unit.unit, unit.name, {}});
        }
    }
    if (known.empty()) return std::string("no unit: give --unit A.B.C.D or --port DEVICE");
    if (choice.selector.empty()) return known;
    const auto selector = groups::ParseSelector(choice.selector);
    if (!selector.Ok()) return groups::ErrorText(selector.GetError());
    const auto picked =
        groups::Select(selector.Value(), known, {groups::kDefaultMostUnits, choice.confirm});
    if (!picked.Ok()) return groups::ErrorText(picked.GetError());
    std::vector<groups::UnitEntry> chosen;
    for (const std::size_t index : picked.Value()) chosen.push_back(known[index]);
    return chosen;
}

}  // namespace vantrel::cli

#include "gateway/api/snapshot_json.h"

#include "clients/dotted_address.h"
#include "clients/report.h"
#include "gateway/api/command_reply.h"

namespace vantrel::gateway {

using groups::Refusal;
using groups::Setting;
using groups::UnitSettings;
using nlohmann::json;

namespace {

const char* RefusalId(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone:
            break;
        case Refusal::kUnitDown:
            return "unit down";
        case Refusal::kNotInSnapshot:
            return "not in snapshot";
        case Refusal::kOutOfRange:
            return "out of range";
        case Refusal::kStrandingAddress:
            return "stranding address";
    }
    return "";
}

const char* StepId(groups::StepState state) {
    switch (state) {
        case groups::StepState::kDone:
            return "done";
        case groups::StepState::kFailed:
            return "failed";
        case groups::StepState::kSkipped:
            break;
    }
    return "skipped";
}

json Change(Setting setting, const UnitSettings& live, const UnitSettings& wanted) {
    return {{"setting", groups::NameOf(setting)},
            {"live", groups::SettingJson(live, setting)},
            {"snapshot", groups::SettingJson(wanted, setting)}};
}

// Whether the command ran to its end: only then are its plan and steps there to read.
bool Ran(const CommandOutcome& outcome) { return outcome.state == CommandState::kRan; }

}  // namespace

json SnapshotSummaryJson(const groups::Snapshot& snapshot) {
    return {{"name", snapshot.name},
            {"takenAt", snapshot.takenAt},
            {"takenBy", snapshot.takenBy},
            {"units", snapshot.units.size()}};
}

json RefusalJson(const groups::UnitPlan& plan, const UnitSettings* wanted,
                 const std::string& down) {
    if (plan.refusal == Refusal::kNone) return nullptr;
    json refusal{{"reason", RefusalId(plan.refusal)}};
    if (plan.refusal == Refusal::kUnitDown) {
        refusal["why"] = down.empty() ? clients::FaultNote(plan.down) : down;
    } else if (wanted && plan.refusal != Refusal::kNotInSnapshot) {
        refusal["setting"] = groups::NameOf(plan.setting);
        refusal["why"] = std::string(groups::RefusalText(plan.refusal)) + ": " +
                         groups::ValueText(*wanted, plan.setting);
    }
    return refusal;
}

json PlanJson(const groups::UnitPlan& plan, const UnitSettings& wanted) {
    json steps = json::array();
    for (const Setting setting : plan.steps) steps.push_back(Change(setting, plan.live, wanted));
    return steps;
}

json DiffersJson(const UnitSettings& wanted, const UnitSettings& live) {
    json differs = json::array();
    for (const Setting setting : groups::Differing(wanted, live)) {
        differs.push_back(Change(setting, live, wanted));
    }
    return differs;
}

json DriftJson(const std::string& unit, const std::string& name, const UnitDrift& drift) {
    json differs = json::array();
    for (const Setting setting : drift.differing) {
        differs.push_back(Change(setting, drift.live, *drift.wanted));
    }
    return {{"unit", unit},
            {"name", name},
            {"snapshot", drift.snapshot},
            {"inSnapshot", drift.wanted.has_value()},
            {"down", drift.down},
            {"differs", differs}};
}

json StepsJson(const std::vector<groups::StepOutcome>& steps) {
    json list = json::array();
    for (const groups::StepOutcome& step : steps) {
        json entry{{"setting", groups::NameOf(step.setting)}, {"state", StepId(step.state)}};
        if (step.state == groups::StepState::kFailed) {
            entry["why"] =
                clients::FailureNote(step.check.GetFailure(), step.check.Value().shortfall);
        } else if (step.state == groups::StepState::kSkipped) {
            entry["why"] = "not sent: a step before it failed";
        }
        list.push_back(std::move(entry));
    }
    return list;
}

json AppliedJson(const CommandOutcome& outcome, const AppliedSettings& applied,
                 const UnitSettings& wanted) {
    json entry{{"unit", outcome.unit},
               {"command", outcome.id},
               {"done", outcome.Done()},
               {"refusal", nullptr},
               {"steps", json::array()}};
    if (outcome.state == CommandState::kLinkDown) {
        groups::UnitPlan down;
        down.refusal = Refusal::kUnitDown;
        entry["refusal"] = RefusalJson(down, &wanted, "the unit's link is down: " + outcome.why);
    } else if (!Ran(outcome)) {
        entry["error"] = CommandReply(outcome).body["error"];
    } else {
        entry["refusal"] = RefusalJson(applied.plan, &wanted);
        entry["steps"] = StepsJson(applied.steps);
    }
    return entry;
}

std::optional<UnitSettings> KeptSettings(const json& values) {
    namespace b = status_byte;
    if (!values.is_object()) return std::nullopt;
    StatusBlock status{};
    bool whole = true;
    auto take = [&](std::size_t at, const json& value) {
        whole = whole && value.is_number_unsigned() && value.get<std::uint64_t>() <= 255;
        if (whole) status[at] = value.get<std::uint8_t>();
    };
    take(b::kSoloLeft, values.value("soloLeft", json()));
    take(b::kSoloRight, values.value("soloRight", json()));
    take(b::kMixDown, values.value("mixDown", json()));
    take(b::kMeterMode, values.value("meterMode", json()));
    take(b::kInput, values.value("input", json()));
    const json levels = values.value("levels", json());
    whole = whole && levels.is_array() && levels.size() == 4;
    for (const Level level :
         {Level::Volume, Level::Brightness, Level::Contrast, Level::Saturation}) {
        if (whole) take(StatusByteOf(level), levels[static_cast<std::size_t>(level)]);
    }
    if (!whole) return std::nullopt;
    NetworkSettings network;
    auto address = [&](const char* field, std::optional<std::uint32_t>& into) {
        const json text = values.value(field, json());
        std::uint32_t value = 0;
        if (text.is_string() && clients::ParseDotted(text.get<std::string>(), value)) into = value;
        return into.has_value();
    };
    const bool addressed = address("ip", network.ip) && address("mask", network.mask) &&
                           address("gateway", network.gateway);
    if (values.value("dhcp", json()) == 1) {
        network.mode = AddressMode::Dhcp;
    } else if (addressed) {
        network.mode = AddressMode::Static;
    }
    return groups::SettingsFrom(status, network.mode ? std::optional(network) : std::nullopt);
}

}  // namespace vantrel::gateway

#include "groups/apply_plan.h"

#include <algorithm>

#include "unit/address_rules.h"
#include "unit/buttons.h"

namespace vantrel::groups {
namespace {

// The button that brings a value about: the input's or meter mode's, or the lamp's.
const Button* ButtonOf(Setting setting, std::int32_t value) {
    switch (setting) {
        case Setting::kInput:
            return ButtonFor(ButtonEffect::Input, static_cast<std::uint8_t>(value));
        case Setting::kMeterMode:
            return ButtonFor(ButtonEffect::MeterMode, static_cast<std::uint8_t>(value));
        case Setting::kSoloLeft:
            return ButtonFor(ButtonEffect::Lamp, 0);
        case Setting::kSoloRight:
            return ButtonFor(ButtonEffect::Lamp, 1);
        case Setting::kMixDown:
            return ButtonFor(ButtonEffect::Lamp, 2);
        default:
            return nullptr;
    }
}

bool InRange(Setting setting, std::int32_t value) {
    if (value < 0) return false;
    if (const std::optional<Level> level = LevelOf(setting)) {
        return value <= RangeOf(*level).highest;
    }
    if (setting == Setting::kInput || setting == Setting::kMeterMode) {
        return value <= 255 && ButtonOf(setting, value) != nullptr;
    }
    return value <= 1;  // a lamp
}

bool IsLamp(Setting setting) {
    return setting == Setting::kSoloLeft || setting == Setting::kSoloRight ||
           setting == Setting::kMixDown;
}

// Where a step goes: a lamp going on after every lamp going off, since a solo going on puts
// the other solo out; otherwise in the settings' own order.
int Rank(Setting setting, const UnitSettings& wanted) {
    const int rank = 2 * static_cast<int>(setting);
    if (IsLamp(setting) && wanted.values.at(setting) != 0) {
        return 2 * static_cast<int>(Setting::kMixDown) + 1;
    }
    return rank;
}

Refusal CheckNetwork(const NetworkValues& network) {
    if (network.mode == AddressMode::Dhcp) return Refusal::kNone;
    if (network.mode != AddressMode::Static || !ReachableAddresses(network.addresses)) {
        return Refusal::kOutOfRange;
    }
    if (StrandingOf(network.addresses) != Stranding::kNone) return Refusal::kStrandingAddress;
    return Refusal::kNone;
}

Result<Check> Carry(UnitLink& link, Setting setting, const UnitSettings& wanted) {
    if (setting == Setting::kNetwork) {
        const NetworkValues& network = *wanted.network;
        if (network.mode == AddressMode::Dhcp) {
            return ApplyNetwork(link, AddressMode::Dhcp, std::nullopt);
        }
        return ApplyNetwork(link, AddressMode::Static, network.addresses);
    }
    const std::int32_t value = wanted.values.at(setting);
    if (const std::optional<Level> level = LevelOf(setting)) {
        return BringLevel(link, *level, value);
    }
    if (IsLamp(setting)) return BringLamp(link, *ButtonOf(setting, value), value != 0);
    return PressButton(link, *ButtonOf(setting, value));
}

// The unit answered otherwise than asked, which leaves the link fit for the next step.
bool UnitRefused(const Result<Check>& check) {
    return check.GetFault() == Fault::kBadReply || check.GetFault() == Fault::kRefused;
}

}  // namespace

const char* RefusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone:
            return "none";
        case Refusal::kUnitDown:
            return "the unit is down";
        case Refusal::kNotInSnapshot:
            return "the unit is not in the snapshot";
        case Refusal::kOutOfRange:
            return "a value out of range";
        case Refusal::kStrandingAddress:
            return "an address that would strand the unit";
    }
    return "unknown";
}

const char* StepStateText(StepState state) {
    switch (state) {
        case StepState::kDone:
            return "ok";
        case StepState::kFailed:
            return "failed";
        case StepState::kSkipped:
            return "skipped";
    }
    return "unknown";
}

UnitPlan PlanUnit(const UnitSettings* wanted, const Result<UnitSettings>& live, bool network) {
    UnitPlan plan;
    if (!wanted) {
        plan.refusal = Refusal::kNotInSnapshot;
        return plan;
    }
    for (const auto& [setting, value] : wanted->values) {
        if (!InRange(setting, value)) {
            plan.refusal = Refusal::kOutOfRange;
            plan.setting = setting;
            return plan;
        }
    }
    // The unit lights one solo at most.
    const auto on = [&](Setting lamp) {
        const auto found = wanted->values.find(lamp);
        return found != wanted->values.end() && found->second != 0;
    };
    if (on(Setting::kSoloLeft) && on(Setting::kSoloRight)) {
        plan.refusal = Refusal::kOutOfRange;
        plan.setting = Setting::kSoloRight;
        return plan;
    }
    if (!live.Ok()) {
        plan.refusal = Refusal::kUnitDown;
        plan.down = live.GetFailure();
        return plan;
    }
    plan.live = live.Value();
    for (const Setting setting : Differing(*wanted, plan.live)) {
        if (setting != Setting::kNetwork || network) plan.steps.push_back(setting);
    }
    // Only an address that would be sent is held to the rules: a unit may already stand on
    // one that they would not let it be moved to.
    if (!plan.steps.empty() && plan.steps.back() == Setting::kNetwork) {
        plan.refusal = CheckNetwork(*wanted->network);
        plan.setting = Setting::kNetwork;
        if (plan.refusal != Refusal::kNone) plan.steps.clear();
    }
    std::stable_sort(plan.steps.begin(), plan.steps.end(),
                     [&](Setting a, Setting b) { return Rank(a, *wanted) < Rank(b, *wanted); });
    return plan;
}

UnitPlan PlanUnit(UnitLink& link, const UnitSettings* wanted, bool network) {
    return PlanUnit(wanted, CaptureSettings(link, network && wanted && wanted->network), network);
}

std::vector<StepOutcome> ApplyPlan(UnitLink& link, const UnitPlan& plan,
                                   const UnitSettings& wanted) {
    std::vector<StepOutcome> outcomes;
    bool linkLost = false;
    bool anyFailed = false;
    for (const Setting setting : plan.steps) {
        StepOutcome outcome{setting, StepState::kSkipped, {}};
        if (!linkLost && !(setting == Setting::kNetwork && anyFailed)) {
            outcome.check = Carry(link, setting, wanted);
            outcome.state = outcome.check.Ok() ? StepState::kDone : StepState::kFailed;
            anyFailed = anyFailed || !outcome.check.Ok();
            linkLost = !outcome.check.Ok() && !UnitRefused(outcome.check);
        }
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

}  // namespace vantrel::groups

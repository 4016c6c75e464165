#include "cli/snapshot_commands.h"

#include "clients/report.h"
#include "groups/apply_plan.h"

namespace vantrel::cli {

using groups::Setting;
using groups::UnitSettings;

namespace {

// "volume 20 -> 30"
std::string Change(Setting setting, const UnitSettings& from, const UnitSettings& to) {
    return std::string(groups::NameOf(setting)) + " " + groups::ValueText(from, setting) + " -> " +
           groups::ValueText(to, setting);
}

std::string RefusalNote(const groups::UnitPlan& plan, const UnitSettings& wanted) {
    std::string note = groups::RefusalText(plan.refusal);
    if (plan.refusal == groups::Refusal::kUnitDown)
        return note + ": " + clients::FaultNote(plan.down);
    if (plan.refusal == groups::Refusal::kOutOfRange ||
        plan.refusal == groups::Refusal::kStrandingAddress) {
        note += std::string(": ") + groups::NameOf(plan.setting) + " " +
                groups::ValueText(wanted, plan.setting);
    }
    return note;
}

// "1 setting", "3 settings"
std::string Settings(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " setting" : " settings");
}

}  // namespace

Verdict CaptureUnit(UnitLink& link, bool network, std::optional<UnitSettings>& captured) {
    const Result<UnitSettings> read = groups::CaptureSettings(link, network);
    if (!read.Ok()) return {false, "read: " + clients::FaultNote(read.GetFailure())};
    captured = read.Value();
    return {true, "captured, fingerprint " + groups::Fingerprint(read.Value())};
}

Verdict DiffUnit(UnitLink& link, const UnitSettings* wanted, const UnitSay& say) {
    if (!wanted) return {false, groups::RefusalText(groups::Refusal::kNotInSnapshot)};
    const Result<UnitSettings> live = groups::CaptureSettings(link, wanted->network.has_value());
    if (!live.Ok()) return {false, "read: " + clients::FaultNote(live.GetFailure())};
    const std::vector<Setting> differing = groups::Differing(*wanted, live.Value());
    for (const Setting setting : differing) {
        say(std::string(groups::NameOf(setting)) + " snapshot " +
            groups::ValueText(*wanted, setting) + ", live " +
            groups::ValueText(live.Value(), setting));
    }
    if (differing.empty()) return {true, "as in the snapshot"};
    return {true, Settings(differing.size()) + " differ"};
}

Verdict ApplyUnit(UnitLink& link, const UnitSettings* wanted, bool network, bool dryRun,
                  const UnitSay& say) {
    if (!wanted) return {false, groups::RefusalText(groups::Refusal::kNotInSnapshot)};
    const groups::UnitPlan plan = groups::PlanUnit(link, wanted, network);
    if (plan.refusal != groups::Refusal::kNone) return {false, RefusalNote(plan, *wanted)};
    if (plan.steps.empty()) return {true, "as in the snapshot; nothing to send"};
    if (dryRun) {
        for (const Setting setting : plan.steps) {
            say("would set " + Change(setting, plan.live, *wanted));
        }
        return {true, Settings(plan.steps.size()) + " to send"};
    }
    std::size_t done = 0;
    for (const groups::StepOutcome& outcome : groups::ApplyPlan(link, plan, *wanted)) {
        std::string line = Change(outcome.setting, plan.live, *wanted) + ": " +
                           groups::StepStateText(outcome.state);
        if (outcome.state == groups::StepState::kFailed) {
            line += ": " + clients::FailureNote(outcome.check.GetFailure(),
                                                outcome.check.Value().shortfall);
        }
        done += outcome.state == groups::StepState::kDone;
        say(line);
    }
    return {done == plan.steps.size(),
            std::to_string(done) + " of " + Settings(plan.steps.size()) + " set"};
}

}  // namespace vantrel::cli

// Snapshots over a fake link: capture, the file, the dry run's plan and the apply.
#include <gtest/gtest.h>

#include "groups/apply_plan.h"
#include "groups/snapshot.h"
#include "tests/support/fake_unit_link.h"
#include "tests/support/temp_file.h"
#include "unit/buttons.h"

namespace vantrel::groups {
namespace groups_snapshot_test {
namespace {

namespace b = status_byte;

// A unit whose buttons do what the real one's do: a lamp flips (a solo going on puts the
// other out), an input or meter mode button selects it.
class ButtonUnit : public testing::FakeUnitLink {
  public:
    Outcome Press(const Button& button) override {
        ++presses;
        pressed.push_back(button.name);
        if (pressFault != Fault::kNone) return Failure{pressFault};
        if (button.effect == ButtonEffect::Lamp) {
            status[button.index] = status[button.index] ? 0 : 1;
            if (button.index < 2 && status[button.index]) status[1 - button.index] = 0;
        } else if (button.effect == ButtonEffect::MeterMode) {
            status[b::kMeterMode] = button.index;
        } else if (button.effect == ButtonEffect::Input) {
            status[b::kInput] = button.index;
        }
        return {};
    }
    Fault pressFault = Fault::kNone;
    std::vector<std::string> pressed;
};

UnitSettings Wanted(std::initializer_list<std::pair<const Setting, std::int32_t>> values) {
    return UnitSettings{values, std::nullopt};
}

TEST(SnapshotTest, CaptureGoesThroughTheFileWithItsFingerprint) {
    ButtonUnit unit;
    unit.status = {0, 1, 7, 30, 2, 200, 100, 50, 1};
    const Result<UnitSettings> captured = CaptureSettings(unit, true);
    ASSERT_TRUE(captured.Ok());
    // Lamps and the meter mode as on or off, whatever non-zero value the unit reports.
    EXPECT_EQ(captured.Value().values.at(Setting::kMixDown), 1);
    EXPECT_EQ(captured.Value().values.at(Setting::kMeterMode), 1);
    EXPECT_EQ(captured.Value().values.at(Setting::kBrightness), 200);
    ASSERT_TRUE(captured.Value().network);
    EXPECT_EQ(captured.Value().network->addresses.ip, 0x7F000002u);
    EXPECT_FALSE(CaptureSettings(unit, false).Value().network);

    const Snapshot snapshot{
        "morning", "2026-12-09T08:00:00.000Z", "ops", {{"127.0.0.2", "qc-1", captured.Value()}}};
    const nlohmann::json json = SnapshotJson(snapshot);
    EXPECT_EQ(json["units"][0]["settings"]["lcd-brightness"], 200);
    EXPECT_EQ(json["units"][0]["settings"]["network"]["gateway"], "127.0.0.1");
    const testing::TempFile file("groups-snapshot", "not json");
    EXPECT_EQ(ReadSnapshotFile(file.Path()).GetError().fault, SnapshotFault::kNotJson);
    SystemFiles files;
    ASSERT_EQ(WriteSnapshotFile(file.Path(), snapshot, files), WriteStep::kNone);
    const auto read = ReadSnapshotFile(file.Path());
    ASSERT_TRUE(read.Ok());
    EXPECT_EQ(read.Value().name, "morning");
    const UnitSettings* back = read.Value().Find("127.0.0.2");
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(Differing(*back, captured.Value()).empty());
    EXPECT_EQ(Fingerprint(*back), json["units"][0]["fingerprint"]);

    UnitSettings other = captured.Value();
    other.values[Setting::kVolume] = 31;
    EXPECT_NE(Fingerprint(other), Fingerprint(captured.Value()));
    nlohmann::json edited = json;
    edited["units"][0]["settings"]["volume"] = 31;
    EXPECT_EQ(SnapshotFromJson(edited).GetError().fault, SnapshotFault::kFingerprint);
    edited["units"][0].erase("fingerprint");
    edited["units"][0]["settings"]["volume"] = 4294967296LL + 20;  // not a wrapped 20
    EXPECT_EQ(SnapshotFromJson(edited).GetError().fault, SnapshotFault::kBadField);
    edited["units"][0]["settings"] = {{"loudness", 3}};
    EXPECT_EQ(SnapshotFromJson(edited).GetError().fault, SnapshotFault::kBadField);
    edited["version"] = 2;
    EXPECT_EQ(SnapshotFromJson(edited).GetError().fault, SnapshotFault::kNotASnapshot);
}

TEST(SnapshotTest, ApplySendsWhatDiffersInTheUnitsOrderAndReportsEachSetting) {
    ButtonUnit unit;  // solo right on, input HDMI, volume 20
    unit.status = {0, 1, 0, 20, 0, 128, 128, 128, 0};
    const UnitSettings wanted = Wanted({{Setting::kInput, 1},
                                        {Setting::kSoloLeft, 1},
                                        {Setting::kSoloRight, 0},
                                        {Setting::kVolume, 23},
                                        {Setting::kBrightness, 128}});

    const UnitPlan plan = PlanUnit(unit, &wanted, false);
    ASSERT_EQ(plan.refusal, Refusal::kNone);
    // The solo going out before the one going on; levels after the buttons.
    EXPECT_EQ(plan.steps, (std::vector<Setting>{Setting::kInput, Setting::kSoloRight,
                                                Setting::kSoloLeft, Setting::kVolume}));
    EXPECT_EQ(unit.presses, 0);  // the dry run sends nothing

    const std::vector<StepOutcome> outcomes = ApplyPlan(unit, plan, wanted);
    ASSERT_EQ(outcomes.size(), 4u);
    for (const StepOutcome& outcome : outcomes) {
        EXPECT_EQ(outcome.state, StepState::kDone) << NameOf(outcome.setting);
    }
    EXPECT_EQ(unit.pressed, (std::vector<std::string>{"sdi-input", "solo-right", "solo-left"}));
    EXPECT_EQ(unit.steps, 3);
    EXPECT_TRUE(PlanUnit(unit, &wanted, false).steps.empty());
}

TEST(SnapshotTest, AUnitThatRefusesALinkThatFailsAndTheNetworkLast) {
    const UnitSettings wanted = {{{Setting::kInput, 2}, {Setting::kVolume, 25}},
                                 NetworkValues{AddressMode::Dhcp, {}}};
    // A unit that does not move its volume: that step fails with its reason, the input is
    // still set, and the network, which could move the unit, is not sent.
    ButtonUnit stuck;
    stuck.stepping = testing::FakeUnitLink::Stepping::Stuck;
    const UnitPlan plan = PlanUnit(stuck, &wanted, true);
    ASSERT_EQ(plan.steps,
              (std::vector<Setting>{Setting::kInput, Setting::kVolume, Setting::kNetwork}));
    std::vector<StepOutcome> outcomes = ApplyPlan(stuck, plan, wanted);
    EXPECT_EQ(outcomes[0].state, StepState::kDone);
    EXPECT_EQ(outcomes[1].state, StepState::kFailed);
    EXPECT_EQ(outcomes[1].check.Value().shortfall, Shortfall::kLevelDidNotMove);
    EXPECT_EQ(outcomes[2].state, StepState::kSkipped);
    EXPECT_TRUE(stuck.written.empty());

    // A link that stops answering: nothing after the failed step is tried.
    ButtonUnit lost;
    lost.pressFault = Fault::kNothingReceived;
    outcomes = ApplyPlan(lost, PlanUnit(lost, &wanted, true), wanted);
    EXPECT_EQ(outcomes[0].check.GetFault(), Fault::kNothingReceived);
    EXPECT_EQ(outcomes[1].state, StepState::kSkipped);
    EXPECT_EQ(lost.steps, 0);

    // A unit that takes all: the network goes last, with DHCP.
    ButtonUnit fine;
    outcomes = ApplyPlan(fine, PlanUnit(fine, &wanted, true), wanted);
    EXPECT_EQ(outcomes[2].state, StepState::kDone);
    EXPECT_EQ(fine.network.mode, AddressMode::Dhcp);
    // Without being asked, the network is left alone.
    EXPECT_EQ(PlanUnit(fine, &wanted, false).steps.size(), 0u);
}

TEST(SnapshotTest, TheDryRunSaysWhyAUnitWouldGetNothing) {
    ButtonUnit unit;
    const UnitSettings fine = Wanted({{Setting::kVolume, 30}});
    EXPECT_EQ(PlanUnit(unit, nullptr, false).refusal, Refusal::kNotInSnapshot);

    ButtonUnit down;
    down.silent = true;
    const UnitPlan downPlan = PlanUnit(down, &fine, false);
    EXPECT_EQ(downPlan.refusal, Refusal::kUnitDown);
    EXPECT_EQ(downPlan.down.fault, Fault::kNothingReceived);

    const std::pair<UnitSettings, Setting> outOfRange[] = {
        {Wanted({{Setting::kVolume, 41}}), Setting::kVolume},
        {Wanted({{Setting::kContrast, -1}}), Setting::kContrast},
        {Wanted({{Setting::kInput, 4}}), Setting::kInput},
        {Wanted({{Setting::kMixDown, 2}}), Setting::kMixDown},
        {Wanted({{Setting::kSoloLeft, 1}, {Setting::kSoloRight, 1}}), Setting::kSoloRight},
    };
    for (const auto& [wanted, setting] : outOfRange) {
        const UnitPlan plan = PlanUnit(unit, &wanted, false);
        EXPECT_EQ(plan.refusal, Refusal::kOutOfRange) << NameOf(setting);
        EXPECT_EQ(plan.setting, setting);
        EXPECT_TRUE(plan.steps.empty());
    }

    // The panel's address rules: a loopback address strands a unit; 0.0.0.0 reaches none.
    UnitSettings moved = fine;
    moved.network = NetworkValues{AddressMode::Static, {0x7F000005, 0xFF000000, 0}};
    EXPECT_EQ(PlanUnit(unit, &moved, true).refusal, Refusal::kStrandingAddress);
    EXPECT_EQ(PlanUnit(unit, &moved, false).refusal, Refusal::kNone);
    // The unit's own address is not held to them: nothing would be sent.
    moved.network = NetworkValues{AddressMode::Static, {0x7F000002, 0xFFFFFF00, 0x7F000001}};
    const UnitPlan own = PlanUnit(unit, &moved, true);
    EXPECT_EQ(own.refusal, Refusal::kNone);
    EXPECT_EQ(own.steps, std::vector<Setting>{Setting::kVolume});
    moved.network->addresses.ip = 0;
    EXPECT_EQ(PlanUnit(unit, &moved, true).refusal, Refusal::kOutOfRange);
    EXPECT_EQ(unit.presses + unit.steps, 0);
}

}  // namespace
}  // namespace groups_snapshot_test
}  // namespace vantrel::groups

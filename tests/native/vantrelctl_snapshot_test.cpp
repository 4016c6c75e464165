// vantrelctl's snapshots and selectors against simulated units on their consoles (loopback).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "groups/snapshot.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"
#include "tests/support/vantrelctl_run.h"

namespace vantrel {
namespace vantrelctl_snapshot_test {
namespace {

using testing::Ctl;
using testing::CtlRun;

bool Has(const CtlRun& run, const std::string& text) {
    return run.output.find(text) != std::string::npos;
}

TEST(VantrelctlSnapshotTest, CaptureDiffAndApplyAGroupWithOneUnitRefusing) {
    sim::Faults stuck;
    stuck.stuckLevels = true;
    testing::SimulatedUnit first("127.0.0.81"), second("127.0.0.82"), spare("127.0.0.83"),
        refusing("127.0.0.84", stuck);
    for (testing::SimulatedUnit* unit : {&first, &second, &spare, &refusing}) {
        ASSERT_TRUE(unit->Start()) << unit->console.Error();
    }
    const testing::TempFile units("ctl-groups-units",
                                  "# studio A\n"
                                  "127.0.0.81 name=qc-1 site=studio-a role=qc\n"
                                  "127.0.0.82 name=qc-2 site=studio-a role=qc\n"
                                  "127.0.0.83 name=spare site=studio-a role=spare\n"
                                  "127.0.0.84 name=qc-3 site=studio-a role=qc\n");
    const testing::TempFile snapshotFile("ctl-groups-snapshot", "");
    const std::string group = "--units-file " + units.Path() + " ";
    const std::string file = snapshotFile.Path();

    const CtlRun capture =
        Ctl(group + "--select role=qc snapshot capture --name morning --by ops --out " + file);
    ASSERT_EQ(capture.code, 0) << capture.output;
    const auto taken = groups::ReadSnapshotFile(file);
    ASSERT_TRUE(taken.Ok());
    EXPECT_EQ(taken.Value().takenBy, "ops");
    ASSERT_EQ(taken.Value().units.size(), 3u);
    EXPECT_EQ(taken.Value().units[1].name, "qc-2");
    EXPECT_EQ(taken.Value().Find("127.0.0.83"), nullptr);
    const int volume = second.unit.GetLevel(sim::Level::Volume);

    // The second unit drifts; the stuck one too, and its level cannot be stepped back.
    second.unit.SetLevel(sim::Level::Volume, volume - 3);
    second.unit.Press(sim::Button::SdiInput);
    refusing.unit.SetLevel(sim::Level::Volume, volume - 2);

    const CtlRun diff = Ctl(group + "--select qc-2 snapshot diff " + file);
    EXPECT_EQ(diff.code, 0) << diff.output;
    EXPECT_TRUE(Has(diff, "127.0.0.82: input snapshot 0, live 1")) << diff.output;
    EXPECT_TRUE(Has(diff, "127.0.0.82: volume snapshot " + std::to_string(volume) + ", live " +
                              std::to_string(volume - 3)))
        << diff.output;

    // The dry run takes its units from the snapshot and sends nothing.
    const CtlRun dryRun = Ctl("snapshot apply --dry-run " + file);
    EXPECT_EQ(dryRun.code, 0) << dryRun.output;
    EXPECT_TRUE(Has(dryRun, "127.0.0.82: would set input 1 -> 0")) << dryRun.output;
    EXPECT_TRUE(Has(dryRun, "127.0.0.81: as in the snapshot")) << dryRun.output;
    EXPECT_EQ(second.unit.GetLevel(sim::Level::Volume), volume - 3);

    const CtlRun apply = Ctl(group + "snapshot apply " + file);
    EXPECT_EQ(apply.code, 1) << apply.output;
    EXPECT_TRUE(Has(apply, "127.0.0.82: input 1 -> 0: ok")) << apply.output;
    EXPECT_TRUE(Has(apply, "127.0.0.83: the unit is not in the snapshot")) << apply.output;
    EXPECT_TRUE(Has(apply, "127.0.0.84: volume " + std::to_string(volume - 2) + " -> " +
                               std::to_string(volume) + ": failed: the level did not move"))
        << apply.output;
    EXPECT_EQ(second.unit.GetLevel(sim::Level::Volume), volume);
    EXPECT_EQ(second.unit.State().input, 0);

    const CtlRun none = Ctl(group + "--select role=director snapshot diff " + file);
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(Has(none, "the selector matches no unit")) << none.output;
}

}  // namespace
}  // namespace vantrelctl_snapshot_test
}  // namespace vantrel

// The commands confirmed by the unit, against a unit link played in memory: what counts as
// done at the ends of a level's range, at the nearest step, and for network read-backs.
#include "unit_link/unit_checks.h"

#include <gtest/gtest.h>

#include "tests/support/fake_unit_link.h"

namespace vantrel {
namespace unit_checks_test {
namespace {

using testing::FakeUnitLink;

TEST(UnitChecksTest, LevelsEndAtTheirTargetTheirEndOrTheNearestStep) {
    struct Case {
        const char* name;
        FakeUnitLink::Stepping stepping;
        Level level;
        std::uint8_t start;
        std::int32_t target;
        Confirmation confirmation;
        std::int32_t ends;
    };
    using S = FakeUnitLink::Stepping;
    const Case cases[] = {
        {"reached", S::Clamp, Level::Volume, 20, 30, Confirmation::Confirmed, 30},
        {"past the top, clamped", S::Clamp, Level::Brightness, 253, 255, Confirmation::AtEnd, 255},
        {"past the top, refused", S::Refuse, Level::Brightness, 253, 255, Confirmation::AtEnd, 253},
        {"past the bottom", S::Refuse, Level::Contrast, 3, 0, Confirmation::AtEnd, 3},
        {"nearer before the last step: back", S::Clamp, Level::Contrast, 128, 100,
         Confirmation::Nearest, 98},
        {"nearer after it", S::Clamp, Level::Contrast, 128, 110, Confirmation::Nearest, 108},
        {"there already", S::Stuck, Level::Volume, 12, 12, Confirmation::Confirmed, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUnitLink link;
        link.stepping = c.stepping;
        link.status[StatusByteOf(c.level)] = c.start;
        const Result<Check> check = BringLevel(link, c.level, c.target);
        ASSERT_TRUE(check.Ok()) << ShortfallText(check.Value().shortfall);
        EXPECT_EQ(check.Value().confirmation, c.confirmation);
        EXPECT_EQ(check.Value().level, c.ends);
    }
}

TEST(UnitChecksTest, ALevelThatDoesNotMoveOrCannotBeReadFails) {
    FakeUnitLink stuck;
    stuck.stepping = FakeUnitLink::Stepping::Stuck;
    Result<Check> check = StepLevel(stuck, Level::Volume, StepDirection::Up, 3);
    EXPECT_EQ(check.Value().shortfall, Shortfall::kLevelDidNotMove);
    EXPECT_EQ(check.GetFault(), Fault::kBadReply);
    EXPECT_EQ(stuck.steps, 1);  // no more steps after one that failed

    FakeUnitLink silent;
    silent.silent = true;
    check = StepLevel(silent, Level::Volume, StepDirection::Up, 1);
    EXPECT_EQ(check.Value().shortfall, Shortfall::kStatusBefore);
    EXPECT_EQ(check.GetFault(), Fault::kNothingReceived);
    EXPECT_EQ(silent.steps, 0);
}

TEST(UnitChecksTest, NetworkChangesAreComparedWithWhatWasWritten) {
    FakeUnitLink link;
    Result<Check> check = ApplyNetwork(link, AddressMode::Dhcp, std::nullopt);
    ASSERT_TRUE(check.Ok());
    // The console's DHCP carries the unit's own addresses, never zeros.
    ASSERT_EQ(link.written.size(), 1u);
    ASSERT_TRUE(link.written[0]);
    EXPECT_EQ(link.written[0]->mask, 0xFFFFFF00u);
    EXPECT_EQ(link.written[0]->gateway, 0x7F000001u);
    EXPECT_EQ(link.written[0]->ip, 0x7F000002u);

    // Addresses that cannot be read are not replaced by anything: nothing is written.
    FakeUnitLink unread;
    unread.network.mask.reset();
    check = ApplyNetwork(unread, AddressMode::Dhcp, std::nullopt);
    EXPECT_EQ(check.Value().shortfall, Shortfall::kCurrentSettings);
    EXPECT_TRUE(unread.written.empty());

    FakeUnitLink ignoring;
    ignoring.ignoresWrites = true;
    check =
        ApplyNetwork(ignoring, AddressMode::Static, Addresses{0x7F000009, 0xFF000000, 0x7F000001});
    EXPECT_EQ(check.Value().shortfall, Shortfall::kReadBackDiffers);
    check = ApplyNetwork(ignoring, AddressMode::Dhcp, std::nullopt);
    EXPECT_EQ(check.Value().shortfall, Shortfall::kReadBackDiffers);
}

TEST(UnitChecksTest, ButtonsShowTheirEffectOrSayTheyAreNotReported) {
    FakeUnitLink link;
    Result<Check> check = PressButton(link, *FindButton("mute"));
    ASSERT_TRUE(check.Ok());
    EXPECT_EQ(check.Value().confirmation, Confirmation::SentUnreported);
    // The memory unit's lamps and input never change: a press it does not show fails.
    check = PressButton(link, *FindButton("solo-left"));
    EXPECT_EQ(check.Value().shortfall, Shortfall::kEffectNotShown);
    check = PressButton(link, *FindButton("sdi-input"));
    EXPECT_EQ(check.Value().shortfall, Shortfall::kEffectNotShown);
    EXPECT_TRUE(PressButton(link, *FindButton("hdmi-input")).Ok());
}

// A lamp is judged by the status read when the command runs: as asked, nothing is pressed.
TEST(UnitChecksTest, ALampAlreadyAsAskedIsNotPressed) {
    FakeUnitLink link;
    const Button& soloLeft = *FindButton("solo-left");
    link.status[soloLeft.index] = 1;
    EXPECT_TRUE(BringLamp(link, soloLeft, true).Ok());
    EXPECT_EQ(link.presses, 0);
    EXPECT_EQ(BringLamp(link, soloLeft, false).Value().shortfall, Shortfall::kEffectNotShown);
    EXPECT_EQ(link.presses, 1);
    link.silent = true;
    EXPECT_EQ(BringLamp(link, soloLeft, true).Value().shortfall, Shortfall::kStatusBefore);
}

}  // namespace
}  // namespace unit_checks_test
}  // namespace vantrel

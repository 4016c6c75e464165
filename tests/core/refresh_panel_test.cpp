#include "presenters/refresh_panel.h"

#include <gtest/gtest.h>

#include "presenters/status_update.h"
#include "tests/support/recording_view.h"

namespace vantrel {
namespace refresh_panel_test {
namespace {

using Calls = std::vector<std::string>;

// A status update as the session and the serial poll make it: the block, then the refresh.
Calls Report(PanelState& state, const std::vector<uint8_t>& block) {
    testing::RecordingView view;
    ApplyStatusBlock(state, block.data());
    RefreshPanel(state, view);
    return view.Calls();
}

TEST(RefreshPanelTest, FirstStatusAfterStartDrawsLastBarFirstThenLampsThenInput) {
    PanelState state;
    // Solo Left on, Solo Right off, Mix-Down 255 as at start, Volume 20, VU mode,
    // Brightness 128, Contrast 0 as at start, Saturation 7, SDI input.
    EXPECT_EQ(
        Report(state, {1, 0, 255, 20, 0, 128, 0, 7, 1}),
        (Calls{"bar 1013 7", "bar 1011 128", "bar 1010 20", "picture 1038 232", "picture 1039 219",
               "picture 1046 241", "picture 1047 209", "picture 1044 239"}));
    EXPECT_EQ(state.m_nPrevInput, 1);
}

TEST(RefreshPanelTest, SecondIdenticalStatusDrawsNothing) {
    PanelState state;
    const std::vector<uint8_t> block = {0, 1, 1, 40, 1, 9, 9, 9, 0};
    Report(state, block);
    EXPECT_EQ(Report(state, block), Calls{});
}

TEST(RefreshPanelTest, ARefreshWithoutANewStatusDrawsWhatStillDiffers) {
    PanelState state;
    ApplyStatusBlock(state, std::vector<uint8_t>{0, 0, 0, 3, 0, 0, 0, 0, 9}.data());
    testing::RecordingView first;
    RefreshPanel(state, first);
    testing::RecordingView second;
    RefreshPanel(state, second);
    EXPECT_EQ(second.Calls(), first.Calls());
    EXPECT_FALSE(second.Calls().empty());
    EXPECT_EQ(state.m_prevLevels[0], 999);  // the refresh leaves the saved copies alone
}

TEST(RefreshPanelTest, InputOutsideTheFourGreysTheOldOneAndLightsNone) {
    PanelState state;
    Report(state, {0, 0, 0, 0, 0, 0, 0, 0, 2});
    EXPECT_EQ(Report(state, {0, 0, 0, 0, 0, 0, 0, 0, 7}), Calls{"picture 1067 259"});
    EXPECT_EQ(state.m_nPrevInput, 7);
    EXPECT_EQ(Report(state, {0, 0, 0, 0, 0, 0, 0, 0, 2}), Calls{"picture 1067 260"});
}

TEST(RefreshPanelTest, InputChangeLightsTheNewOneBeforeGreyingTheOld) {
    PanelState state;
    Report(state, {0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Report(state, {0, 0, 0, 0, 0, 0, 0, 0, 3}),
              (Calls{"picture 1068 262", "picture 1065 257"}));
}

TEST(RefreshPanelTest, AnyNonZeroMeterModeCountsAsDppmAndAnyNonZeroLampAsOn) {
    PanelState state;
    Report(state, {0, 0, 0, 0, 0, 0, 0, 0, 5});
    EXPECT_EQ(
        Report(state, {2, 0, 0x80, 0, 3, 0, 0, 0, 5}),
        (Calls{"picture 1038 232", "picture 1045 240", "picture 1046 222", "picture 1047 242"}));
}

}  // namespace
}  // namespace refresh_panel_test
}  // namespace vantrel

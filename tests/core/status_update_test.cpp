#include "presenters/status_update.h"

#include <gtest/gtest.h>

#include "tests/support/recording_view.h"

namespace vantrel {
namespace status_update_test {
namespace {

TEST(StatusUpdateTest, BlockFillsItsFieldsInWireOrderAfterSavingThePreviousCopies) {
    PanelState state;
    const uint8_t block[kStatusBlockSize] = {11, 12, 13, 14, 15, 16, 17, 18, 3};
    ApplyStatusBlock(state, block);
    EXPECT_EQ(std::vector<int>(state.m_lamps, state.m_lamps + 4),
              (std::vector<int>{11, 12, 13, 15}));
    EXPECT_EQ(std::vector<int>(state.m_levels, state.m_levels + 4),
              (std::vector<int>{14, 16, 17, 18}));
    EXPECT_EQ(state.m_nInput, 3);
    EXPECT_EQ(std::vector<int>(state.m_prevLamps, state.m_prevLamps + 4),
              (std::vector<int>{255, 255, 255, 231}));
    EXPECT_EQ(std::vector<int>(state.m_prevLevels, state.m_prevLevels + 4),
              (std::vector<int>{999, 0, 0, 0}));
    EXPECT_EQ(state.m_nPrevInput, 5);  // the refresh keeps the input's previous copy
}

TEST(StatusUpdateTest, LevelBytesAreZeroExtended) {
    PanelState state;
    const uint8_t block[kStatusBlockSize] = {0, 0, 0, 0xFF, 0, 0xFE, 0x80, 0x81, 0};
    ApplyStatusBlock(state, block);
    EXPECT_EQ(std::vector<int>(state.m_levels, state.m_levels + 4),
              (std::vector<int>{255, 254, 128, 129}));
}

TEST(StatusUpdateTest, StatusAfterALevelUpdateComparesAgainstThatLevel) {
    PanelState state;
    testing::RecordingView view;
    ApplyLevel(state, view, 0, 5);
    ApplyLevel(state, view, 0, 10);
    EXPECT_EQ(state.m_prevLevels[0], 5);
    EXPECT_EQ(view.Calls(), (std::vector<std::string>{"bar 1010 5", "bar 1010 10"}));
    const uint8_t block[kStatusBlockSize] = {0, 0, 0, 5, 0, 0, 0, 0, 0};
    ApplyStatusBlock(state, block);
    EXPECT_EQ(state.m_prevLevels[0], 10);
    EXPECT_EQ(state.m_levels[0], 5);
}

TEST(StatusUpdateTest, LevelUpdateMovesTheBarOfItsSlot) {
    PanelState state;
    testing::RecordingView view;
    ApplyLevel(state, view, 3, -7);
    EXPECT_EQ(state.m_levels[3], -7);
    EXPECT_EQ(state.m_prevLevels[3], 0);
    EXPECT_EQ(view.Calls(), (std::vector<std::string>{"bar 1013 -7"}));
}

}  // namespace
}  // namespace status_update_test
}  // namespace vantrel

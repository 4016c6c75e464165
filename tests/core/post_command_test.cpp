#include "presenters/post_command.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <type_traits>
#include <utility>

#include "tests/support/recording_view.h"

namespace vantrel {
namespace post_command_test {
namespace {

// Only the stores that wake the session may write the code and the link flag: a plain
// assignment would leave an idle session asleep.
static_assert(!std::is_assignable_v<decltype((std::declval<PanelState&>().m_nCommand)), int>);
static_assert(!std::is_assignable_v<decltype((std::declval<PanelState&>().m_bLinkDown)), int>);

class PostCommandTest : public ::testing::Test {
  protected:
    PostCommandTest() { state.StoreLinkDown(0); }

    PanelState state;
    testing::RecordingView view;
};

TEST_F(PostCommandTest, WithoutASessionNothingIsStoredAndNothingWaits) {
    state.StoreLinkDown(1);
    for (int code : {1, 21, 23}) PostCommand(state, static_cast<uint8_t>(code), view);
    PostStatusPoll(state);
    EXPECT_EQ(state.m_nCommand, 0);
    EXPECT_TRUE(view.Waits().empty());
}

TEST_F(PostCommandTest, WaitingPosterWaitsIn100MsStepsUntilTheSessionIsFree) {
    state.StoreCommand(22);
    view.onWait = [&](Clock::Duration) {
        if (view.Waits().size() == 3) state.StoreCommand(0);
    };
    PostCommand(state, 11, view);
    EXPECT_EQ(state.m_nCommand, 11);
    EXPECT_EQ(view.Waits(), (std::vector<long long>{100, 100, 100}));
}

TEST_F(PostCommandTest, WaitingPosterStoresNothingWhenTheSessionEndsMeanwhile) {
    state.StoreCommand(22);
    view.onWait = [&](Clock::Duration) { state.StoreLinkDown(1); };
    PostCommand(state, 9, view);
    EXPECT_EQ(state.m_nCommand, 22);
    EXPECT_EQ(view.Waits().size(), 1u);
}

TEST_F(PostCommandTest, NonWaitingPostersReplaceAPendingCodeAtOnce) {
    for (int code : {21, 23, 24, 26}) {
        state.StoreCommand(9);
        PostCommand(state, static_cast<uint8_t>(code), view);
        EXPECT_EQ(state.m_nCommand, code);
    }
    EXPECT_TRUE(view.Waits().empty());
}

TEST_F(PostCommandTest, StatusPollStoresOnlyWhenNothingIsPendingAndNeverWaits) {
    state.StoreCommand(23);
    PostStatusPoll(state);
    EXPECT_EQ(state.m_nCommand, 23);
    state.StoreCommand(0);
    PostStatusPoll(state);
    EXPECT_EQ(state.m_nCommand, 22);
}

TEST_F(PostCommandTest, EveryWaitingCodeWaitsAndNoOtherDoes) {
    for (int code = 1; code <= 29; ++code) {
        state.StoreCommand(30);  // pending: waiting posters must wait
        bool waited = false;
        view.onWait = [&](Clock::Duration) {
            waited = true;
            state.StoreCommand(0);
        };
        PostCommand(state, static_cast<uint8_t>(code), view);
        const bool waits = (code <= 13) || (code >= 15 && code <= 20) || code >= 27;
        EXPECT_EQ(waited, waits) << code;
        EXPECT_EQ(state.m_nCommand, code);
    }
}

// A view whose wait is the state's own, as the window's wakes on every store: the poster goes
// on when the session clears its code, not at the end of a 100 ms step.
class StoreWaitingView : public testing::RecordingView {
  public:
    explicit StoreWaitingView(PanelState& state) : m_state(state) {}
    void WaitForSession(Clock::Duration step) override { m_state.WaitForStore(step); }

  private:
    PanelState& m_state;
};

TEST(PanelStateTest, TheWaitingPosterGoesOnAtTheClearAndAClearKeepsANewerCode) {
    using namespace std::chrono;
    PanelState state;
    state.StoreLinkDown(0);
    state.StoreCommand(22);
    StoreWaitingView view(state);
    steady_clock::time_point cleared;
    std::thread session([&] {
        std::this_thread::sleep_for(milliseconds(30));
        cleared = steady_clock::now();
        state.ClearCommand(22);
    });
    PostCommand(state, 11, view);
    const auto late = steady_clock::now() - cleared;
    session.join();
    EXPECT_EQ(state.m_nCommand, 11);
    EXPECT_LT(late, milliseconds(20));  // a 100 ms step would be late by 70 ms

    state.ClearCommand(22);  // the session served 22, but 11 came since: it stays
    EXPECT_EQ(state.m_nCommand, 11);
}

TEST(PanelStateTest, StartValues) {
    PanelState state;
    EXPECT_EQ(state.m_bLinkDown, 1);
    EXPECT_EQ(std::vector<int>(state.m_lamps, state.m_lamps + 4),
              (std::vector<int>{255, 255, 255, 231}));
    EXPECT_EQ(std::vector<int>(state.m_levels, state.m_levels + 4),
              (std::vector<int>{999, 0, 0, 0}));
    EXPECT_EQ(std::vector<int>(state.m_prevLamps, state.m_prevLamps + 4),
              (std::vector<int>{255, 255, 255, 255}));
    EXPECT_EQ(std::vector<int>(state.m_prevLevels, state.m_prevLevels + 4),
              (std::vector<int>{255, 255, 255, 255}));
    EXPECT_EQ(state.m_nInput, 5);
    EXPECT_EQ(state.m_nPrevInput, 5);
    EXPECT_EQ(state.m_nCommand, 0);
    EXPECT_EQ(state.m_nLinkMode, 1);
    EXPECT_EQ(state.m_nIpMode, 0);
    EXPECT_EQ(state.m_bPollPaused, 0);
    EXPECT_EQ(state.m_nSerialState, 0);
}

}  // namespace
}  // namespace post_command_test
}  // namespace vantrel

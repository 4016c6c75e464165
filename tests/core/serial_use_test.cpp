#include "presenters/serial_use.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fake_clock.h"

namespace vantrel {
namespace serial_use_test {
namespace {

// Stands for a nested message loop that ends the poll's use of the port while a command
// waits.
class PollEndingClock : public testing::FakeClock {
  public:
    PollEndingClock(std::uint8_t& state, int pausesBeforeFree)
        : m_state(state), m_left(pausesBeforeFree) {}
    void Sleep(Duration pause) override {
        FakeClock::Sleep(pause);
        if (--m_left == 0) m_state = kSerialFree;
    }

  private:
    std::uint8_t& m_state;
    int m_left;
};

TEST(SerialUseStateTest, CommandWaitsForThePollInStepsOf30Ms) {
    std::uint8_t state = kSerialPolling;
    PollEndingClock clock(state, 3);
    WaitWhileStatusPoll(state, clock);
    EXPECT_EQ(clock.Pauses(), (std::vector<long long>{30, 30, 30}));

    state = kSerialCommand;
    clock.ClearPauses();
    WaitWhileStatusPoll(state, clock);
    EXPECT_TRUE(clock.Pauses().empty());
}

TEST(SerialUseStateTest, PollSkipsWhileACommandHoldsThePort) {
    std::uint8_t state = kSerialCommand;
    EXPECT_FALSE(BeginStatusPoll(state));
    EXPECT_EQ(state, kSerialCommand);
    state = kSerialFree;
    EXPECT_TRUE(BeginStatusPoll(state));
    EXPECT_EQ(state, kSerialPolling);
}

}  // namespace
}  // namespace serial_use_test
}  // namespace vantrel

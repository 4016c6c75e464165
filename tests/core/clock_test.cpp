#include <gtest/gtest.h>

#include "tests/support/fake_clock.h"

namespace vantrel {
namespace clock_test {
namespace {

TEST(FakeClockTest, RecordsPausesAndAdvancesTime) {
    testing::FakeClock clock;
    auto start = clock.Now();
    clock.Sleep(Clock::Duration(50));
    clock.Sleep(Clock::Duration(300));
    EXPECT_EQ(clock.Pauses(), (std::vector<long long>{50, 300}));
    EXPECT_EQ(clock.Now() - start, std::chrono::milliseconds(350));
}

}  // namespace
}  // namespace clock_test
}  // namespace vantrel

// A unit busy with a long command answers every exchange of it, though no poll runs meanwhile:
// it must stay up for as long as the command takes.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "tests/support/running_gateway.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

TEST(GatewayBusyUnitTest, ARampLongerThanTwoPollPeriodsKeepsTheUnitUp) {
    sim::Faults slow;
    slow.delayMs = 40;  // a step's exchanges take long enough that the ramp outlasts two polls
    testing::RunningGateway gw(1, "127.0.0.1", std::nullopt, slow);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    ASSERT_TRUE(gw.Post("/api/units/127.0.60.1/level/volume", {{"value", 0}}));

    const auto begun = std::chrono::steady_clock::now();
    auto ramp = std::async(std::launch::async, [&] {
        return gw.Post("/api/units/127.0.60.1/level/volume", {{"value", 40}});
    });
    std::string seen = "up";
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            const std::string link = gw.Unit("127.0.60.1").value("link", "");
            if (link != "up") seen = link;
            return ramp.wait_for(milliseconds(0)) == std::future_status::ready;
        },
        milliseconds(20000)));
    const double took = testing::SecondsSince(begun);
    const httplib::Result reply = ramp.get();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200) << reply->body;
    EXPECT_GT(took, 2.0) << "the ramp must outlast two poll periods to show anything";
    EXPECT_EQ(seen, "up");
    EXPECT_EQ(gw.Unit("127.0.60.1")["levels"][0], 40);
}

}  // namespace
}  // namespace vantrel

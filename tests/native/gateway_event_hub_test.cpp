// The gateway's event fan-out: every stream gets every event in order, their number is bounded,
// and closing the hub ends every stream at once, so that the server's shutdown never waits.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "gateway/net/event_hub.h"

namespace vantrel {
namespace gateway_event_hub_test {
namespace {

using std::chrono::milliseconds;

TEST(GatewayEventHubTest, StreamsAreBoundedAndClosingEndsAWaitingOne) {
    gateway::EventHub hub(2);
    auto first = hub.Subscribe();
    auto second = hub.Subscribe();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(hub.Subscribe(), nullptr);
    hub.Publish("unit", "{\"a\":1}");
    hub.Publish("job", "{}");
    std::string text;
    ASSERT_TRUE(first->Next(text, milliseconds(0)));
    EXPECT_EQ(text, "event: unit\ndata: {\"a\":1}\n\n");
    ASSERT_TRUE(first->Next(text, milliseconds(0)));
    EXPECT_EQ(text, "event: job\ndata: {}\n\n");
    ASSERT_TRUE(first->Next(text, milliseconds(0)));
    EXPECT_EQ(text, "");  // nothing more: a keep-alive is due
    second.reset();       // a client that went away frees its place
    auto third = hub.Subscribe();
    ASSERT_TRUE(third);

    const auto start = std::chrono::steady_clock::now();
    std::thread closer([&] {
        std::this_thread::sleep_for(milliseconds(50));
        hub.Close();
    });
    EXPECT_FALSE(third->Next(text, milliseconds(10000)));
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));
    EXPECT_FALSE(first->Next(text, milliseconds(0)));
    EXPECT_FALSE(hub.Subscribe()->Next(text, milliseconds(0)));  // none opens after
}

}  // namespace
}  // namespace gateway_event_hub_test
}  // namespace vantrel

// The gateway under a low open-file limit: clients, however many, leave its units' links the
// descriptors they need.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/gateway_process.h"
#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_descriptors_test {
namespace {

using std::chrono::milliseconds;
using testing::RawClient;

// Whether an event stream's text shows the unit's link leave `up` and come back after `from`.
bool CameBack(const std::string& events, std::size_t from) {
    const auto gone = events.find("\"link\":\"down\"", from);
    return gone != std::string::npos && events.find("\"link\":\"up\"", gone) != std::string::npos;
}

// More HTTP and Ember+ clients than the limit allows hold on while the unit restarts: those
// past what the units leave are closed at once, and the unit's link comes back `up`, which a
// held event stream shows.
TEST(GatewayDescriptorsTest, ClientsPastTheLimitAreRefusedBeforeAUnitsLinkIs) {
    testing::SimulatedUnit unit("127.0.60.1");
    ASSERT_TRUE(unit.Start());
    testing::GatewayProcess gateway({"--unit", "127.0.60.1", "--listen", "127.0.0.1:18051",
                                     "--poll", "1", "--ember", "127.0.0.1:18052"},
                                    [] {
                                        const rlimit low{128, 128};
                                        if (setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(126);
                                    });
    ASSERT_TRUE(gateway.Serving(milliseconds(5000)));
    httplib::Client client("127.0.0.1", 18051);
    testing::Recording(client);
    ASSERT_TRUE(
        testing::Reaches(client, "/api/units/127.0.60.1", "/link", "up", milliseconds(5000)));

    std::vector<std::unique_ptr<RawClient>> streams, ember;
    for (int i = 0; i < 100; ++i) {
        streams.push_back(std::make_unique<RawClient>("127.0.0.1", 18051));
        streams.back()->Send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:18051\r\n\r\n");
    }
    for (int i = 0; i < 40; ++i) ember.push_back(std::make_unique<RawClient>("127.0.0.1", 18052));
    // A client held would stay open for good: the limit only bounds how long the gateway takes
    // to accept and refuse them all, which a sanitized build on a busy machine takes seconds for.
    EXPECT_TRUE(streams.back()->ClosedWithin(milliseconds(5000)));
    EXPECT_TRUE(ember.back()->ClosedWithin(milliseconds(5000)));

    RawClient& held = *streams.front();
    const std::size_t before = held.ReadFor(milliseconds(100)).size();
    unit.console.Stop();
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            return held.ReadFor(milliseconds(20)).find("\"link\":\"down\"", before) !=
                   std::string::npos;
        },
        milliseconds(5000)));
    ASSERT_TRUE(unit.Start());
    EXPECT_TRUE(testing::WaitUntil([&] { return CameBack(held.ReadFor(milliseconds(20)), before); },
                                   milliseconds(10000)))
        << gateway.Errors();
    EXPECT_NE(gateway.Errors().find("at most 128 open files"), std::string::npos)
        << gateway.Errors();
}

}  // namespace
}  // namespace gateway_descriptors_test
}  // namespace vantrel

// How a request's body is framed: by its length, or by chunks alone. Any other transfer coding
// could make the gateway and whatever stands in front of it disagree on where a request ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_transfer_test {
namespace {

using std::chrono::milliseconds;
using testing::RawClient;

std::string Chunked(const std::string& body) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", body.size());
    return size + body + "\r\n0\r\n\r\n";
}

std::string Post(const std::string& path, const std::string& host, const std::string& framing,
                 const std::string& body) {
    return "POST " + path + " HTTP/1.1\r\nHost: " + host +
           "\r\nContent-Type: application/json\r\n" + framing + "\r\n" + body;
}

// Each coding but chunked alone is refused with 400 and the connection closed, and nothing it
// carries runs: neither its body nor a request hidden in it, which a server that took the
// request as bodiless would read as the next one. Chunked alone is served.
TEST(GatewayTransferTest, ACodingOtherThanChunkedAloneIsRefusedAndNothingItCarriesRuns) {
    testing::RunningGateway gw(1);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    gw.units[0]->unit.SetLevel(sim::Level::Volume, 5);
    const std::string host = "127.0.0.1:" + std::to_string(gw.service->Port());
    const std::string volume = "/api/units/127.0.60.1/level/volume";
    const std::string step = "{\"step\":\"up\"}";
    const std::string length = "Content-Length: " + std::to_string(step.size()) + "\r\n";
    const std::string hidden = Post(volume, host, length, step);

    const std::vector<std::pair<std::string, std::string>> refused{
        {"Transfer-Encoding: chunked, gzip\r\n", hidden},
        {"Transfer-Encoding: gzip\r\n", hidden},
        {"Transfer-Encoding: chunked, chunked\r\n", hidden},
        {"Transfer-Encoding: gzip, chunked\r\n", Chunked(step)},
        {"Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", Chunked(step)},
        {"Transfer-Encoding: identity\r\n" + length, step},
    };
    for (const auto& [framing, body] : refused) {
        SCOPED_TRACE(framing);
        RawClient client(gw.host, gw.service->Port());
        client.Send(Post(volume, host, framing, body));
        EXPECT_EQ(client.Response(milliseconds(2000)), 400);
        EXPECT_TRUE(client.ClosedWithin(milliseconds(1000)));
    }

    // Served after all of them on the unit's queue, so that anything they let through has run.
    RawClient chunked(gw.host, gw.service->Port());
    chunked.Send(Post("/api/units/127.0.60.1/press/mix-down", host,
                      "Transfer-Encoding: Chunked\r\n", Chunked("{}")));
    EXPECT_EQ(chunked.Response(milliseconds(5000)), 200);
    EXPECT_EQ(gw.units[0]->unit.State().mixDown, 1);
    EXPECT_EQ(gw.units[0]->unit.GetLevel(sim::Level::Volume), 5);
}

}  // namespace
}  // namespace gateway_transfer_test
}  // namespace vantrel

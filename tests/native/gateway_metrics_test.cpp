// What the gateway counts for its metrics: each unit's commands by how they ended, the units'
// firmware updates, its version and start.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

#include "res/version.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_metrics_test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

bool Holds(const std::string& text, const std::string& line) {
    return text.find(line + "\n") != std::string::npos;
}

std::string Commands(const std::string& unit, const char* outcome, int count) {
    return "vantrel_commands_total{unit=\"" + unit + "\",outcome=\"" + outcome + "\"} " +
           std::to_string(count);
}

TEST(GatewayMetricsTest, CommandsAreCountedByUnitAndOutcomeAndTheGatewayTellsItsVersionAndStart) {
    sim::Faults stuck;
    stuck.stuckLevels = true;
    const double before =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    testing::RunningGateway gw(2, "127.0.0.1", std::nullopt, stuck);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    auto metrics = [&] { return gw.Client().Get("/metrics")->body; };
    const std::string a = "127.0.60.1", b = "127.0.60.2";
    // Every outcome from 0, so that the first of each shows as an increase.
    const std::string fresh = metrics();
    for (const char* outcome : {"done", "refused", "busy", "failed", "unavailable", "timed_out"}) {
        EXPECT_TRUE(Holds(fresh, Commands(b, outcome, 0))) << outcome;
    }
    EXPECT_TRUE(Holds(fresh, "vantrel_firmware_jobs_total{outcome=\"not_started\"} 0")) << fresh;

    EXPECT_EQ(gw.Post("/api/units/" + a + "/press/mute", json::object())->status, 200);
    EXPECT_EQ(gw.Post("/api/units/" + a + "/press/mute", json::object())->status, 200);
    EXPECT_EQ(gw.Post("/api/units/" + a + "/level/volume", {{"value", 41}})->status, 400);
    EXPECT_EQ(gw.Post("/api/units/" + a + "/level/volume", {{"value", 30}})->status, 502);
    EXPECT_EQ(gw.Post("/api/units/nosuch/press/mute", json::object())->status, 404);
    gw.units[1]->console.Stop();
    ASSERT_TRUE(testing::WaitUntil([&] { return gw.Unit(b)["link"] != "up"; }, milliseconds(3000)));
    EXPECT_EQ(gw.Post("/api/units/" + b + "/press/mute", json::object())->status, 503);

    const std::string text = metrics();
    EXPECT_TRUE(Holds(text, Commands(a, "done", 2))) << text;
    EXPECT_TRUE(Holds(text, Commands(a, "refused", 1))) << text;
    EXPECT_TRUE(Holds(text, Commands(a, "failed", 1))) << text;
    EXPECT_TRUE(Holds(text, Commands(a, "unavailable", 0))) << text;
    EXPECT_TRUE(Holds(text, Commands(b, "unavailable", 1))) << text;
    EXPECT_TRUE(Holds(text, Commands(b, "done", 0))) << text;
    EXPECT_EQ(text.find("unit=\"nosuch\""), std::string::npos);

    EXPECT_TRUE(
        Holds(text, std::string("vantrel_build_info{version=\"") + VANTREL_VERSION_TEXT + "\"} 1"));
    const std::string name = "vantrel_gateway_start_time_seconds ";
    const std::size_t at = text.find("\n" + name);
    ASSERT_NE(at, std::string::npos) << text;
    const double started = std::stod(text.substr(at + 1 + name.size()));
    EXPECT_GE(started, before - 1);
    EXPECT_LE(started, before + 10);
}

}  // namespace
}  // namespace gateway_metrics_test
}  // namespace vantrel

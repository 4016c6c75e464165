// What the gateway counts for its metrics: each unit's commands by how they ended, the units'
// firmware updates, its version and start; and a unit that waits for its power cycle in a net
// update shows in maintenance, not down.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

#include "res/version.h"
#include "sim/serial_console.h"
#include "tests/support/hex_text.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
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

// A net update holds the line in break until the unit is power-cycled: planned work, which must
// not read as a unit that went down, however long the wait is.
TEST(GatewayMetricsTest, AUnitWaitingForItsPowerCycleIsInMaintenanceNotDown) {
    sim::Unit unit(0x7F003C02, 0x7F003C02);
    sim::TrafficLog log;
    sim::SerialConsole console(unit, log, {});
    ASSERT_TRUE(console.Start()) << console.Error();
    const std::string device = console.DevicePath();
    const std::string name = device.substr(device.rfind('/') + 1);
    gateway::GatewayOptions options;
    options.port = 0;
    options.monitor.poll = std::chrono::milliseconds(500);
    options.units.push_back(clients::Target{device, true, 0});
    gateway::Gateway service(options);
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    httplib::Client client("127.0.0.1", service.Port());
    const std::string path = "/api/units/" + name;
    ASSERT_TRUE(testing::Reaches(client, path, "/link", "up", milliseconds(5000)));
    auto metrics = [&] { return client.Get("/metrics")->body; };
    const std::string series = "{unit=\"" + name + "\"} ";
    EXPECT_TRUE(Holds(metrics(), "vantrel_unit_maintenance" + series + "0"));

    const auto started = client.Post(("/api/firmware?controller=net&units=" + name).c_str(),
                                     testing::HexOf(std::vector<std::uint8_t>(1024, 0x5A), 16),
                                     "application/octet-stream");
    ASSERT_TRUE(started);
    ASSERT_EQ(started->status, 202) << started->body;
    const std::string job = "/api/jobs/" + json::parse(started->body)["job"].get<std::string>();
    ASSERT_TRUE(testing::Reaches(client, path, "/link", "maintenance", milliseconds(5000)));
    // Well past the two silent poll periods after which a unit is called down.
    const auto since = std::chrono::system_clock::now();
    ASSERT_TRUE(testing::WaitUntil(
        [&] { return std::chrono::system_clock::now() - since > 4 * options.monitor.poll; },
        milliseconds(5000)));
    const json shown = json::parse(client.Get(path.c_str())->body);
    EXPECT_EQ(shown["link"], "maintenance") << shown.dump();
    EXPECT_EQ(shown["reason"], "a net controller update waits for the unit's power cycle");
    const std::string waiting = metrics();
    EXPECT_TRUE(Holds(waiting, "vantrel_unit_maintenance" + series + "1")) << waiting;
    EXPECT_TRUE(Holds(waiting, "vantrel_up" + series + "0")) << waiting;

    console.PowerCycle();
    ASSERT_EQ(client.Post((job + "/continue").c_str(), "{}", "application/json")->status, 200);
    ASSERT_TRUE(testing::Reaches(client, job, "/units/0/state", "done", milliseconds(20000)))
        << client.Get(job.c_str())->body;
    const std::string after = metrics();
    EXPECT_TRUE(Holds(after, "vantrel_unit_maintenance" + series + "0")) << after;
    EXPECT_TRUE(Holds(after, "vantrel_firmware_jobs_total{outcome=\"done\"} 1")) << after;
    EXPECT_TRUE(Holds(after, "vantrel_firmware_jobs_total{outcome=\"failed\"} 0")) << after;
    service.Stop();
}

}  // namespace
}  // namespace vantrel

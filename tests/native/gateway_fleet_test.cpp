// The gateway's hold on its units, in this process on fake links and a clock the test moves:
// the poll period, the down rule, the reconnect pauses, the command queue and its deadlines,
// the status reads a command costs, and staged firmware jobs. Seconds pass at once here.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/in_process_gateway.h"

namespace vantrel {
namespace gateway_fleet_test {
namespace {

using gateway::LinkState;
using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::InProcessGateway;
using testing::WaitUntil;

constexpr milliseconds kLimit{10000};  // real time, for what the monitors' threads do

bool Holds(const std::string& text, const std::string& line) {
    return text.find(line + "\n") != std::string::npos;
}

Clock::TimePoint At(milliseconds since) { return Clock::TimePoint(since); }

TEST(GatewayFleetTest, AUnitIsPolledEachPeriodAndAChangeAtItIsAnEvent) {
    InProcessGateway gw({"a"});
    testing::FakeUnit& unit = gw.Unit("a");
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    ASSERT_TRUE(gw.Settled());
    gw.clock.Advance(milliseconds(4999));
    gw.clock.Advance(milliseconds(1));
    ASSERT_TRUE(WaitUntil([&] { return unit.StatusReads() == 2; }, kLimit));
    ASSERT_TRUE(gw.Settled());
    unit.Set(status_byte::kInput, 2);
    gw.clock.Advance(seconds(5));
    EXPECT_TRUE(gw.Streamed("\"input\":2"));
    EXPECT_EQ(unit.ReadTimes(), (std::vector<Clock::TimePoint>{At(milliseconds(0)), At(seconds(5)),
                                                               At(seconds(10))}));
}

// The read still waits on the unit when two poll periods have passed: the unit is down by then,
// in its snapshot and as an event, and up again as soon as it answers.
TEST(GatewayFleetTest, AUnitSilentForTwoPollPeriodsWhileItsReadWaitsIsDownUntilItAnswers) {
    InProcessGateway gw({"a"});
    testing::FakeUnit& unit = gw.Unit("a");
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    ASSERT_TRUE(gw.Settled());
    unit.Hold(true);
    gw.clock.Advance(seconds(5));
    ASSERT_TRUE(WaitUntil([&] { return unit.Held() == 1; }, kLimit));
    gw.clock.Advance(milliseconds(4900));
    EXPECT_EQ(gw.Link("a"), LinkState::Up);  // two periods since its last answer, not more
    gw.ForgetStream();
    gw.clock.Advance(milliseconds(200));
    const gateway::UnitSnapshot down = gw.Monitor("a").Snapshot();
    EXPECT_EQ(down.link, LinkState::Down);
    EXPECT_EQ(down.reason, "no answer for two poll periods");
    EXPECT_TRUE(gw.Watched([&] { return gw.Carried("\"link\":\"down\""); }));
    gw.ForgetStream();
    unit.Hold(false);
    EXPECT_TRUE(gw.Streamed("\"link\":\"up\""));
    EXPECT_EQ(gw.Link("a"), LinkState::Up);
}

// A unit busy with a long command answers every exchange of it, though no poll runs meanwhile.
TEST(GatewayFleetTest, ACommandLongerThanTwoPollPeriodsKeepsItsUnitUp) {
    InProcessGateway gw({"a"});
    testing::FakeUnit& unit = gw.Unit("a");
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    std::mutex mutex;
    std::vector<LinkState> seen;  // as each exchange begins
    unit.OnExchange([&] {
        const LinkState link = gw.Link("a");
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(link);
    });
    unit.TakeTime(milliseconds(300));  // 41 exchanges: past two periods, short of the limit
    const Clock::TimePoint begun = gw.clock.Now();
    const gateway::HttpResponse ramp =
        gw.Call("POST", "/api/units/a/level/volume", R"({"value":40})");
    EXPECT_EQ(ramp.status, 200) << ramp.body;
    EXPECT_GT(gw.clock.Now() - begun, seconds(10));
    EXPECT_EQ(unit.Get(status_byte::kVolume), 40);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_GT(seen.size(), 40u);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), LinkState::Down), 0);
}

// 1, 2, 4, 8, 16 s and then the longest, 30 s, between tries; a loss after the unit was up is
// counted, and the pause starts from the first again.
TEST(GatewayFleetTest, TheReconnectPauseDoublesUpToTheLongestAndALossIsCounted) {
    InProcessGateway gw({"a"});
    testing::FakeUnit& unit = gw.Unit("a");
    unit.Refuse(true);
    gw.Start();
    std::vector<Clock::TimePoint> expected{At(milliseconds(0))};
    for (const int gap : {1, 2, 4, 8, 16, 30, 30}) {
        ASSERT_TRUE(WaitUntil([&] { return unit.Opens().size() == expected.size(); }, kLimit));
        ASSERT_TRUE(gw.Settled());
        gw.clock.Advance(seconds(gap));
        expected.push_back(expected.back() + seconds(gap));
    }
    ASSERT_TRUE(WaitUntil([&] { return unit.Opens().size() == expected.size(); }, kLimit));
    EXPECT_EQ(unit.Opens(), expected);
    ASSERT_TRUE(WaitUntil([&] { return gw.Link("a") == LinkState::Down; }, kLimit));

    ASSERT_TRUE(gw.Settled());
    unit.Refuse(false);
    gw.clock.Advance(seconds(30));
    ASSERT_TRUE(gw.AllUp());
    EXPECT_EQ(gw.Monitor("a").Snapshot().reconnects, 0);  // never up before
    ASSERT_TRUE(gw.Settled());
    unit.Refuse(true);
    gw.clock.Advance(seconds(5));  // the poll fails
    ASSERT_TRUE(WaitUntil([&] { return gw.Link("a") == LinkState::Down; }, kLimit));
    ASSERT_TRUE(gw.Settled());
    unit.Refuse(false);
    gw.clock.Advance(seconds(1));
    ASSERT_TRUE(gw.AllUp());
    EXPECT_EQ(gw.Monitor("a").Snapshot().reconnects, 1);
}

// While a command runs on the unit, 16 more wait and the next is refused at once; those not
// begun within 10 s are dropped unsent, and the one still running at 15 s is answered then,
// its outcome following as an event. The rest of the API never waits on the unit.
TEST(GatewayFleetTest, ABusyUnitsQueueHoldsSixteenAndItsDeadlinesAnswerInTime) {
    InProcessGateway gw({"a"});
    testing::FakeUnit& unit = gw.Unit("a");
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    unit.Hold(true);
    const std::string press = "/api/units/a/press/mute";
    std::future<gateway::HttpResponse> running = gw.Send("POST", press, "{}");
    ASSERT_TRUE(WaitUntil([&] { return unit.Held() == 1; }, kLimit));
    std::vector<std::future<gateway::HttpResponse>> waiting;
    for (int i = 0; i < 16; ++i) waiting.push_back(gw.Send("POST", press, "{}"));
    const gateway::HttpResponse full = gw.Call("POST", press, "{}");
    EXPECT_EQ(full.status, 503) << full.body;
    EXPECT_NE(std::find(full.headers.begin(), full.headers.end(),
                        std::make_pair(std::string("Retry-After"), std::string("2"))),
              full.headers.end());
    EXPECT_EQ(gw.Call("GET", "/metrics").status, 200);
    EXPECT_EQ(gw.Call("GET", "/api/units/a").status, 200);

    gw.clock.Advance(seconds(10));
    ASSERT_TRUE(gw.Watched(
        [&] { return waiting.back().wait_for(milliseconds(0)) == std::future_status::ready; }));
    for (std::future<gateway::HttpResponse>& dropped : waiting) {
        const gateway::HttpResponse reply = InProcessGateway::Answer(std::move(dropped));
        EXPECT_EQ(reply.status, 504) << reply.body;
    }
    EXPECT_EQ(running.wait_for(milliseconds(0)), std::future_status::timeout);
    gw.clock.Advance(seconds(5));
    ASSERT_TRUE(
        gw.Watched([&] { return running.wait_for(milliseconds(0)) == std::future_status::ready; }));
    const gateway::HttpResponse overdue = InProcessGateway::Answer(std::move(running));
    ASSERT_EQ(overdue.status, 504) << overdue.body;
    const std::string id = InProcessGateway::Json(overdue)["command"];
    unit.Hold(false);
    EXPECT_TRUE(gw.Streamed("event: outcome\ndata: {\"command\":\"" + id + "\""));
    EXPECT_EQ(unit.Presses(), 1);
}

// A command whose check read the status last hands it to the monitor, which reads it no more;
// one that sent something after its last read has the unit read again.
TEST(GatewayFleetTest, ACommandsLastStatusReadServesAsThePollAfterIt) {
    InProcessGateway gw({"a"});
    testing::FakeUnit& unit = gw.Unit("a");
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    const auto reads = [&](const std::string& button) {
        const int before = unit.StatusReads();
        const gateway::HttpResponse reply = gw.Call("POST", "/api/units/a/press/" + button, "{}");
        EXPECT_EQ(reply.status, 200) << button << " " << reply.body;
        return unit.StatusReads() - before;
    };
    EXPECT_EQ(reads("solo-left"), 2);  // before the press and after it
    EXPECT_EQ(InProcessGateway::Json(gw.Call("GET", "/api/units/a"))["soloLeft"], 1);
    EXPECT_EQ(reads("mute"), 1);
    EXPECT_EQ(reads("volume-up"), 2);  // the step's level read comes before it is sent
    EXPECT_EQ(InProcessGateway::Json(gw.Call("GET", "/api/units/a"))["levels"][0], 1);
}

// A job's canary units go first: when one of them fails, the rest are never begun. So too once
// a job has had its most failures (here its first unit's link is down).
TEST(GatewayFleetTest, AFailedCanaryOrAJobsMostFailuresHoldTheRestBack) {
    InProcessGateway gw({"a", "b", "c"});
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    const auto run = [&](const std::string& stages) {
        const gateway::HttpResponse started =
            gw.Call("POST", "/api/firmware?units=a,b,c&controller=main&" + stages,
                    std::string(3000, 'c'), "application/octet-stream");
        EXPECT_EQ(started.status, 202) << started.body;
        const std::string job =
            "/api/jobs/" + InProcessGateway::Json(started)["job"].get<std::string>();
        json state;
        EXPECT_TRUE(WaitUntil(
            [&] {
                state = InProcessGateway::Json(gw.Call("GET", job));
                return state["finished"] == true;
            },
            kLimit));
        return state;
    };
    gw.Unit("a").FailUpdates(true);
    const json canary = run("canary=1");
    EXPECT_EQ(canary["units"][0]["state"], "failed");
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(canary["units"][i]["state"], "not started") << canary.dump();
        EXPECT_EQ(canary["units"][i]["error"], "a canary unit was not updated");
    }

    ASSERT_TRUE(gw.Settled());
    gw.Unit("a").Refuse(true);
    gw.clock.Advance(seconds(5));
    ASSERT_TRUE(WaitUntil([&] { return gw.Link("a") == LinkState::Down; }, kLimit));
    const json halted = run("maxFailures=1");
    EXPECT_EQ(halted["units"][0]["state"], "failed");
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(halted["units"][i]["state"], "not started") << halted.dump();
        EXPECT_EQ(halted["units"][i]["error"], "the job had its most failures");
    }
}

// One unfinished firmware job a unit: a second is refused while the first runs, and taken once
// it has ended.
TEST(GatewayFleetTest, ASecondJobForAUnitBeingUpdatedIsRefused) {
    InProcessGateway gw({"a"});
    testing::FakeUnit& unit = gw.Unit("a");
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    const std::string path = "/api/firmware?units=a&controller=main";
    const std::string image(3000, '\x5A');
    unit.Hold(true);
    const gateway::HttpResponse first = gw.Call("POST", path, image, "application/octet-stream");
    ASSERT_EQ(first.status, 202) << first.body;
    ASSERT_TRUE(WaitUntil([&] { return unit.Held() == 1; }, kLimit));
    const gateway::HttpResponse second = gw.Call("POST", path, image, "application/octet-stream");
    EXPECT_EQ(second.status, 409) << second.body;
    unit.Hold(false);
    const std::string job = "/api/jobs/" + InProcessGateway::Json(first)["job"].get<std::string>();
    ASSERT_TRUE(WaitUntil(
        [&] { return InProcessGateway::Json(gw.Call("GET", job))["finished"] == true; }, kLimit));
    EXPECT_EQ(gw.Call("POST", path, image, "application/octet-stream").status, 202);
}

// A net update holds the line in break until the unit is power-cycled: planned work, which must
// not read as a unit that went down, however long the wait is.
TEST(GatewayFleetTest, AUnitWaitingForItsPowerCycleIsInMaintenanceNotDown) {
    InProcessGateway gw({"ttyUSB0"});
    gw.Unit("ttyUSB0").OnSerialPort();
    gw.Start();
    ASSERT_TRUE(gw.AllUp());
    const auto metrics = [&] { return gw.Call("GET", "/metrics").body; };
    const std::string series = "{unit=\"ttyUSB0\"} ";
    EXPECT_TRUE(Holds(metrics(), "vantrel_unit_maintenance" + series + "0"));

    const gateway::HttpResponse started = gw.Call(
        "POST", "/api/firmware?controller=net&units=ttyUSB0",
        testing::HexOf(std::vector<std::uint8_t>(1024, 0x5A), 16), "application/octet-stream");
    ASSERT_EQ(started.status, 202) << started.body;
    const std::string job =
        "/api/jobs/" + InProcessGateway::Json(started)["job"].get<std::string>();
    ASSERT_TRUE(WaitUntil([&] { return gw.Link("ttyUSB0") == LinkState::Maintenance; }, kLimit));
    gw.clock.Advance(seconds(20));  // well past the two silent poll periods of a down unit
    const json shown = InProcessGateway::Json(gw.Call("GET", "/api/units/ttyUSB0"));
    EXPECT_EQ(shown["link"], "maintenance") << shown.dump();
    EXPECT_EQ(shown["reason"], "a net controller update waits for the unit's power cycle");
    const std::string waiting = metrics();
    EXPECT_TRUE(Holds(waiting, "vantrel_unit_maintenance" + series + "1")) << waiting;
    EXPECT_TRUE(Holds(waiting, "vantrel_up" + series + "0")) << waiting;

    EXPECT_EQ(gw.Call("POST", job + "/continue", "{}").status, 200);
    ASSERT_TRUE(WaitUntil(
        [&] { return InProcessGateway::Json(gw.Call("GET", job))["units"][0]["state"] == "done"; },
        kLimit));
    const std::string after = metrics();
    EXPECT_TRUE(Holds(after, "vantrel_unit_maintenance" + series + "0")) << after;
    EXPECT_TRUE(Holds(after, "vantrel_firmware_jobs_total{outcome=\"done\"} 1")) << after;
    EXPECT_TRUE(Holds(after, "vantrel_firmware_jobs_total{outcome=\"failed\"} 0")) << after;
}

}  // namespace
}  // namespace gateway_fleet_test
}  // namespace vantrel

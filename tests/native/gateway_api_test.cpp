// The gateway's JSON API in this process, against simulated units on 127.0.60.x: what each
// command sends to the unit, what it replies, and the requests it refuses before sending.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "sim/control_channel.h"
#include "tests/support/running_gateway.h"
#include "unit/buttons.h"
#include "unit/command_table.h"

namespace vantrel {
namespace gateway_api_test {
namespace {

using nlohmann::json;

class GatewayApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(gw.started) << gw.error;
        ASSERT_TRUE(gw.AllUp());
        Commands();
    }
    // What the unit received since the last call, its polls, reads and logins left out.
    std::vector<std::string> Commands() {
        std::vector<std::string> lines;
        for (const std::string& line : first().log.Lines("tcp")) {
            if (line != "STA1\r\n" && line != "IPMODE\r\n" && line.find("READ") != 0 &&
                line != "admin\r\n" && line != "846\r\n") {
                lines.push_back(line);
            }
        }
        first().log.Clear();
        return lines;
    }
    testing::SimulatedUnit& first() { return *gw.units[0]; }
    json Reply(const httplib::Result& reply, int status) {
        EXPECT_TRUE(reply);
        if (!reply) return nullptr;
        EXPECT_EQ(reply->status, status) << reply->body;
        return json::parse(reply->body, nullptr, false);
    }
    const char* Line(const Button& button) { return CommandFor(button.code).text; }

    testing::RunningGateway gw{2};
    const std::string unit = "/api/units/127.0.60.1";
};

TEST_F(GatewayApiTest, UnitsAreTheSimulatorsOwnStateWithTheTimeOfEachRead) {
    const json units = Reply(gw.Client().Get("/api/units"), 200)["units"];
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0]["unit"], "127.0.60.1");
    EXPECT_EQ(units[1]["unit"], "127.0.60.2");
    const json state = json::parse(sim::StateJson(first().unit.State()));
    for (const char* field : {"soloLeft", "soloRight", "mixDown", "meterMode", "input", "levels",
                              "ip", "mask", "gateway", "dhcp", "mac"}) {
        EXPECT_EQ(units[0][field], state[field]) << field;
    }
    EXPECT_EQ(units[0]["link"], "up");
    EXPECT_EQ(units[0]["stale"], false);
    EXPECT_EQ(units[0]["reason"], "");
    for (const char* time : {"statusTime", "networkTime", "since"}) {
        EXPECT_EQ(units[0][time].get<std::string>().size(), 24u) << time;  // ...T18:00:00.123Z
    }
    EXPECT_TRUE(units[0]["versionsTime"].is_null());  // a console does not read them
    EXPECT_EQ(Reply(gw.Client().Get("/api/units/127.0.60.9"), 404)["error"],
              "no such unit: 127.0.60.9");
}

// Each command is the unit interface's, on the gateway's one link: the panel's own lines reach
// the unit, and the reply is the outcome as the unit confirmed it.
TEST_F(GatewayApiTest, CommandsSendThePanelsLinesAndReplyWithTheOutcome) {
    json done = Reply(gw.Post(unit + "/press/mix-down", json::object()), 200);
    EXPECT_EQ(done["done"], true);
    EXPECT_EQ(done["confirmation"], "confirmed");
    EXPECT_EQ(Commands(), std::vector<std::string>{Line(*FindButton("mix-down"))});
    EXPECT_EQ(first().unit.State().mixDown, 1);
    // A lamp asked for the state it has is left alone; one asked for the other is pressed.
    EXPECT_EQ(Reply(gw.Post(unit + "/press/mix-down", {{"on", true}}), 200)["done"], true);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(Reply(gw.Post(unit + "/press/mix-down", {{"on", false}}), 200)["done"], true);
    EXPECT_EQ(Commands(), std::vector<std::string>{Line(*FindButton("mix-down"))});
    EXPECT_EQ(first().unit.State().mixDown, 0);
    EXPECT_EQ(Reply(gw.Post(unit + "/press/next-8ch", json::object()), 200)["confirmation"],
              "sent-unreported");
    Commands();

    done = Reply(gw.Post(unit + "/level/volume", {{"step", "down"}}), 200);
    EXPECT_EQ(done["level"], 19);
    EXPECT_EQ(Commands()[0], Line(LevelButton(Level::Volume, StepDirection::Down)));
    // Stepped by 5 from 128 on the console: 98 is the nearest to 100.
    done = Reply(gw.Post(unit + "/level/lcd-contrast", {{"value", 100}}), 200);
    EXPECT_EQ(done["confirmation"], "nearest");
    EXPECT_EQ(first().unit.GetLevel(sim::Level::Contrast), 98);
    Commands();

    done = Reply(gw.Post(unit + "/network", {{"mode", "static"},
                                             {"ip", "127.0.60.1"},
                                             {"mask", "255.255.0.0"},
                                             {"gateway", "127.0.60.254"},
                                             {"force", true}}),
                 200);
    EXPECT_EQ(done["network"]["mask"], "255.255.0.0");
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"SETIPMODE=S\r\n", "MASK=255.255.0.0\r\n",
                                        "GATEWAY=127.0.60.254\r\n", "IP=127.0.60.1\r\n"}));
    // The network settings are read again after the change.
    EXPECT_EQ(gw.Unit("127.0.60.1")["gateway"], "127.0.60.254");
    done = Reply(gw.Post(unit + "/network", {{"defaultIp", true}}), 200);
    EXPECT_EQ(done["address"], "192.168.1.220");  // a value only: the link stays on loopback
    EXPECT_EQ(Commands()[0], CommandFor(kDefaultIpCode).text);

    EXPECT_EQ(Reply(gw.Post(unit + "/factory-reset", json::object()), 400)["error"],
              "a factory reset resets every setting of the unit: send {\"confirm\": true}");
    EXPECT_TRUE(Commands().empty());
    first().unit.SetLevel(sim::Level::Volume, 3);
    EXPECT_EQ(Reply(gw.Post(unit + "/factory-reset", {{"confirm", true}}), 200)["done"], true);
    EXPECT_EQ(Commands(), std::vector<std::string>{Line(*FindButton("factory-reset"))});
    EXPECT_NE(first().unit.GetLevel(sim::Level::Volume), 3);
}

// The tables of /api/meta are the ones the routes and the unit's state use: the buttons are those
// a press takes, each level's highest is the route's, each choice's button brings the unit to
// its value, and each lamp's field is the one the unit's state carries.
TEST_F(GatewayApiTest, MetaTablesAgreeWithTheRoutesAndTheUnitsState) {
    const json meta = Reply(gw.Client().Get("/api/meta"), 200);
    std::vector<std::string> listed, pressable;
    for (const json& button : meta["buttons"]) listed.push_back(button["name"]);
    for (const Button& button : kButtons) {
        if (button.effect != ButtonEffect::FactoryReset) pressable.push_back(button.name);
    }
    EXPECT_EQ(listed, pressable);
    ASSERT_EQ(meta["levels"].size(), 4u);
    for (const json& level : meta["levels"]) {
        const int highest = level["highest"];
        Reply(
            gw.Post(unit + "/level/" + level["name"].get<std::string>(), {{"value", highest + 1}}),
            400);
    }
    // The first level is the first of the unit's levels, and takes its highest.
    Reply(gw.Post(unit + "/level/" + meta["levels"][0]["name"].get<std::string>(),
                  {{"value", meta["levels"][0]["highest"]}}),
          200);
    auto state = [&] { return json::parse(sim::StateJson(first().unit.State())); };
    EXPECT_EQ(state()["levels"][0], meta["levels"][0]["highest"]);
    EXPECT_EQ(meta["levels"][1]["label"], "LCD Brightness");

    for (const char* table : {"inputs", "meterModes"}) {
        const char* field = table == std::string("inputs") ? "input" : "meterMode";
        for (const json& choice : meta[table]) {
            Reply(gw.Post(unit + "/press/" + choice["button"].get<std::string>(), json::object()),
                  200);
            EXPECT_EQ(state()[field], choice["value"]) << choice.dump();
        }
    }
    EXPECT_EQ(meta["inputs"][2]["label"], "Balanced");
    ASSERT_EQ(meta["lamps"].size(), 3u);
    for (const json& lamp : meta["lamps"]) {
        const json before = state()[lamp["field"].get<std::string>()];
        ASSERT_TRUE(before.is_number()) << lamp.dump();
        Reply(gw.Post(unit + "/press/" + lamp["button"].get<std::string>(), json::object()), 200);
        EXPECT_NE(state()[lamp["field"].get<std::string>()], before) << lamp.dump();
    }
}

// A unit that does not confirm: the reply says what was missing; a unit that is down is sent
// nothing at all.
TEST(GatewayFailureTest, AnUnconfirmedCommandSaysWhatWasMissingAndADownUnitGetsNothing) {
    sim::Faults stuck;
    stuck.stuckLevels = true;
    testing::RunningGateway gw(2, "127.0.0.1", std::nullopt, stuck);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const auto failed = gw.Post("/api/units/127.0.60.1/level/volume", {{"value", 30}});
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->status, 502);
    const json reply = json::parse(failed->body);
    EXPECT_EQ(reply["done"], false);
    EXPECT_EQ(reply["shortfall"], ShortfallText(Shortfall::kLevelDidNotMove));
    EXPECT_EQ(reply["error"].get<std::string>().rfind(reply["shortfall"].get<std::string>(), 0),
              0u);

    gw.units[1]->console.Stop();
    ASSERT_TRUE(testing::WaitUntil([&] { return gw.Unit("127.0.60.2")["link"] != "up"; },
                                   std::chrono::seconds(3)));
    gw.units[1]->log.Clear();
    const auto down = gw.Post("/api/units/127.0.60.2/press/mute", json::object());
    ASSERT_TRUE(down);
    EXPECT_EQ(down->status, 503);
    EXPECT_EQ(
        json::parse(down->body)["error"].get<std::string>().rfind("the unit's link is down: ", 0),
        0u);
    EXPECT_TRUE(gw.units[1]->log.Lines("tcp").empty());
}

TEST_F(GatewayApiTest, RequestsThatAreNotValidAreRefusedBeforeAnythingIsSent) {
    auto client = gw.Client();
    EXPECT_EQ(Reply(gw.Post(unit + "/level/volume", {{"value", 41}}), 400)["error"],
              "volume takes a whole number from 0 to 40");
    Reply(gw.Post(unit + "/level/volume", {{"value", "20"}}), 400);
    Reply(gw.Post(unit + "/level/volume", {{"step", "sideways"}}), 400);
    Reply(gw.Post(unit + "/level/loudness", {{"value", 1}}), 404);
    Reply(gw.Post(unit + "/press/launch", json::object()), 404);
    Reply(gw.Post(unit + "/press/factory-reset", json::object()), 404);
    Reply(gw.Post(unit + "/press/mute", {{"on", true}}), 400);
    Reply(gw.Post(unit + "/press/mix-down", {{"on", 1}}), 400);
    Reply(gw.Post("/api/units/127.0.60.9/press/mute", json::object()), 404);
    Reply(gw.Post(unit + "/press/%FF%FE", json::object()), 404);
    Reply(gw.Post(unit + "/network", {{"mode", "static"}, {"ip", "127.0.60.01"}}), 400);
    Reply(gw.Post(unit + "/network", {{"defaultIp", "yes"}}), 400);
    Reply(gw.Post(unit + "/factory-reset", {{"confirm", 1}}), 400);
    Reply(client.Post((unit + "/press/mute").c_str(), "{}", "text/plain"), 415);
    Reply(client.Post((unit + "/press/mute").c_str(), "not json", "application/json"), 400);
    // Alone, the gateway has no cluster's key: no client's command passes for another gateway's.
    Reply(client.Post((unit + "/press/mute").c_str(),
                      {{"X-Vantrel-Forwarded-By", "g2"}, {"X-Vantrel-Part-Of", "group-1"}}, "{}",
                      "application/json"),
          403);
    Reply(client.Post((unit + "/press/mute").c_str(), std::string(70 * 1024, ' '),
                      "application/json"),
          413);
    const auto tooLarge =
        client.Post("/api/firmware?units=127.0.60.1&controller=main",
                    std::string(8 * 1024 * 1024 + 1, 'x'), "application/octet-stream");
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(tooLarge->status, 413);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(GatewayApiTest, FirmwareIsAJobThatUpdatesEachUnitOnItsLink) {
    auto client = gw.Client();
    const std::string path = "/api/firmware?units=127.0.60.1,127.0.60.2&controller=main";
    Reply(client.Post(path.c_str(), std::string(100, 'x'), "application/octet-stream"), 400);
    Reply(client.Post("/api/firmware?units=127.0.60.1&controller=net", std::string(3000, 'x'),
                      "application/octet-stream"),
          400);
    Reply(client.Post("/api/firmware?units=127.0.60.9&controller=main", std::string(3000, 'x'),
                      "application/octet-stream"),
          404);

    std::string image(3000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
    const json started = Reply(client.Post(path.c_str(), image, "application/octet-stream"), 202);
    const std::string job = "/api/jobs/" + started["job"].get<std::string>();
    json state;
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            state = json::parse(client.Get(job.c_str())->body);
            return state["finished"] == true;
        },
        std::chrono::seconds(20)))
        << state.dump();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(state["units"][i]["state"], "done") << state.dump();
        EXPECT_EQ(state["units"][i]["done"], state["units"][i]["total"]);
        const std::vector<std::uint8_t> flash = gw.units[i]->unit.MainFlash();
        EXPECT_EQ(std::string(flash.begin(), flash.end()), image);
    }
    EXPECT_EQ(Reply(client.Get("/api/jobs"), 200)["jobs"], json::array({state}));
    Reply(client.Get("/api/jobs/77"), 404);
}

}  // namespace
}  // namespace gateway_api_test
}  // namespace vantrel

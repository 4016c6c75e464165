// Units added, removed and relabelled while the gateway runs, in process on fake links: each
// change audited, kept in the units file before it takes effect, and seen in the API, the
// events and the metrics; a store that cannot keep it changes nothing; SIGHUP's reload.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "gateway/fleet/unit_roster.h"
#include "gateway/state/file_store.h"
#include "tests/support/failing_files.h"
#include "tests/support/in_process_gateway.h"
#include "tests/support/state_folder.h"

namespace vantrel::gateway {
namespace gateway_unit_roster_test {
namespace {

using nlohmann::json;
using testing::InProcessGateway;

// 127.0.0.2 is in the units file; 127.0.0.9 is given as --unit is, with no file line.
struct Rack {
    explicit Rack(groups::FileCalls& calls = System())
        : folder("# the rack\n127.0.0.2 name=desk-1 site=a  # the desk\n"),
          gw({"127.0.0.2", "127.0.0.9"}, {}, {{"127.0.0.2", {"desk-1", {{"site", "a"}}}}}),
          store(std::make_shared<FileStore>(folder.Path("units"), folder.Path(), calls)),
          roster(gw.units, gw.hub, store,
                 [this](const UnitSnapshot& s) { gw.hub.Publish("unit", UnitJson(s).dump()); }) {
        EXPECT_FALSE(roster.Load());
        gw.api.SetRoster(roster);
        gw.Start();
    }
    static groups::FileCalls& System() {
        static groups::SystemFiles calls;
        return calls;
    }
    json Units() { return InProcessGateway::Json(gw.Call("GET", "/api/units"))["units"]; }
    bool Lists(const std::string& unit) {
        for (const json& listed : Units()) {
            if (listed["unit"] == unit) return true;
        }
        return false;
    }

    testing::StateFolder folder;
    InProcessGateway gw;
    std::shared_ptr<FileStore> store;
    UnitRoster roster;
};

TEST(GatewayUnitRosterTest, AnAddedUnitIsKeptMonitoredAndShown) {
    Rack rack;
    const auto added =
        rack.gw.Call("POST", "/api/units",
                     R"({"unit": "127.0.0.3", "name": "desk-2", "labels": {"site": "b"}})");
    ASSERT_EQ(added.status, 201) << added.body;
    EXPECT_EQ(InProcessGateway::Json(added)["name"], "desk-2");
    EXPECT_EQ(
        rack.folder.Read("units"),
        "# the rack\n127.0.0.2 name=desk-1 site=a  # the desk\n127.0.0.3 name=desk-2 site=b\n");
    EXPECT_TRUE(
        rack.gw.Streamed("event: unit-added\ndata: {\"labels\":{\"site\":\"b\"},"
                         "\"name\":\"desk-2\",\"unit\":\"127.0.0.3\"}"));
    ASSERT_TRUE(testing::WaitUntil([&] { return rack.gw.Link("127.0.0.3") == LinkState::Up; },
                                   std::chrono::seconds(10)));
    EXPECT_EQ(rack.gw.Call("POST", "/api/units/127.0.0.3/press/mix-down", "{}").status, 200);
    EXPECT_NE(rack.gw.Call("GET", "/metrics").body.find("vantrel_up{unit=\"127.0.0.3\"} 1"),
              std::string::npos);
    // Group commands pick it by its labels.
    const auto group =
        rack.gw.Call("POST", "/api/groups/press/mix-down", R"({"select": "site=b"})");
    EXPECT_EQ(InProcessGateway::Json(group)["units"].size(), 1u) << group.body;

    const auto relabelled =
        rack.gw.Call("PUT", "/api/units/127.0.0.3/labels", R"({"labels": {"role": "qc"}})");
    ASSERT_EQ(relabelled.status, 200) << relabelled.body;
    EXPECT_EQ(InProcessGateway::Json(relabelled)["name"], "desk-2");  // kept when not given
    EXPECT_EQ(InProcessGateway::Json(relabelled)["labels"], (json{{"role", "qc"}}));
    EXPECT_TRUE(rack.gw.Streamed("event: unit-relabelled"));
    EXPECT_NE(rack.folder.Read("units").find("127.0.0.3 name=desk-2 role=qc\n"), std::string::npos);

    const json audit = InProcessGateway::Json(rack.gw.Call("GET", "/api/audit?unit=127.0.0.3"));
    const json& last = audit["entries"][0];
    EXPECT_EQ(last["action"], "relabel-unit");
    EXPECT_EQ(last["phase"], "ended");
    EXPECT_EQ(last["before"]["labels"], (json{{"site", "b"}}));
    EXPECT_EQ(last["after"]["labels"], (json{{"role", "qc"}}));
}

// A command that runs ends, one queued is answered; the unit leaves the API and the metrics at
// once, and the event stream once its monitor has ended.
TEST(GatewayUnitRosterTest, ARemovedUnitsCommandsAreAnsweredAndItLeavesEverything) {
    Rack rack;
    ASSERT_TRUE(rack.gw.AllUp());
    testing::FakeUnit& unit = rack.gw.Unit("127.0.0.2");
    unit.Hold(true);
    auto running = rack.gw.Send("POST", "/api/units/127.0.0.2/press/mix-down", "{}");
    ASSERT_TRUE(testing::WaitUntil([&] { return unit.Held() == 1; }, std::chrono::seconds(10)));
    auto queued = rack.gw.Send("POST", "/api/units/127.0.0.2/press/solo-left", "{}");

    const auto removed = rack.gw.Call("DELETE", "/api/units/127.0.0.2");
    ASSERT_EQ(removed.status, 200) << removed.body;
    EXPECT_FALSE(rack.Lists("127.0.0.2"));
    EXPECT_EQ(rack.gw.Call("GET", "/api/units/127.0.0.2").status, 404);
    EXPECT_EQ(rack.gw.Call("GET", "/metrics").body.find("127.0.0.2"), std::string::npos);
    EXPECT_EQ(rack.folder.Read("units"), "# the rack\n");
    unit.Hold(false);
    EXPECT_NE(InProcessGateway::Answer(std::move(running)).status, 0);
    EXPECT_EQ(InProcessGateway::Answer(std::move(queued)).status, 503);
    EXPECT_TRUE(rack.gw.Watched([&] { return rack.gw.Carried("event: unit-removed"); }));
    rack.gw.ForgetStream();
    EXPECT_EQ(rack.gw.Call("DELETE", "/api/units/127.0.0.2").status, 404);
}

TEST(GatewayUnitRosterTest, ChangesThatCannotBeMadeOrKeptAreRefusedAndChangeNothing) {
    Rack rack;
    struct Case {
        const char* method;
        const char* path;
        const char* body;
        int status;
    };
    const Case cases[] = {
        {"POST", "/api/units", R"({"unit": "127.0.0.2"})", 409},
        {"POST", "/api/units", R"({"unit": "127.0.0.9"})", 409},  // given by --unit
        {"POST", "/api/units", R"({"unit": "127.0.0.4", "name": "desk-1"})", 409},
        {"POST", "/api/units", R"({"unit": "127.0.0"})", 400},
        {"POST", "/api/units", R"({"unit": "/dev/ttyUSB0 site=a"})", 400},
        {"POST", "/api/units", R"({"unit": "127.0.0.4", "labels": {"site": "a#b"}})", 400},
        {"POST", "/api/units", R"({"unit": "127.0.0.4", "labels": {"site": "a b"}})", 400},
        {"POST", "/api/units", R"({"unit": "127.0.0.4", "labels": {"site": 3}})", 400},
        {"POST", "/api/units", R"({"unit": "127.0.0.4", "name": "a=b"})", 400},
        {"POST", "/api/units", R"(["127.0.0.4"])", 400},
        {"PUT", "/api/units/127.0.0.2/labels", R"({"name": "x"})", 400},
        {"PUT", "/api/units/127.0.0.7/labels", R"({"labels": {}})", 404},
        {"PUT", "/api/units/127.0.0.9/labels", R"({"labels": {}})", 409},
        {"DELETE", "/api/units/127.0.0.7", "", 404},
        {"DELETE", "/api/units/127.0.0.9", "", 409},
    };
    const std::string before = rack.folder.Read("units");
    for (const Case& c : cases) {
        EXPECT_EQ(rack.gw.Call(c.method, c.path, c.body).status, c.status)
            << c.method << " " << c.path << " " << c.body;
    }
    EXPECT_EQ(rack.folder.Read("units"), before);
    EXPECT_EQ(rack.Units().size(), 2u);
}

TEST(GatewayUnitRosterTest, AChangeTheStoreCannotKeepIsRefusedAndNothingChanges) {
    testing::FailingFiles full(groups::WriteStep::kWrite);
    Rack rack(full);
    const std::string before = rack.folder.Read("units");
    const auto added = rack.gw.Call("POST", "/api/units", R"({"unit": "127.0.0.3"})");
    EXPECT_EQ(added.status, 503);
    EXPECT_NE(added.body.find(rack.folder.Path("units")), std::string::npos) << added.body;
    EXPECT_EQ(rack.gw.Call("DELETE", "/api/units/127.0.0.2").status, 503);
    EXPECT_EQ(rack.gw.Call("PUT", "/api/units/127.0.0.2/labels", R"({"labels": {}})").status, 503);
    EXPECT_EQ(rack.folder.Read("units"), before);
    EXPECT_EQ(rack.Units().size(), 2u);
    EXPECT_EQ(rack.Units()[0]["labels"], (json{{"site", "a"}}));
    EXPECT_FALSE(rack.gw.Carried("event: unit-"));

    // Without a units file, nothing can be changed.
    InProcessGateway bare({"127.0.0.2"});
    EXPECT_EQ(bare.Call("DELETE", "/api/units/127.0.0.2").status, 409);
}

TEST(GatewayUnitRosterTest, AReloadMakesTheUnitsWhatTheFileSaysUnlessItCannotBeRead) {
    Rack rack;
    const CommandRecord reload{&rack.gw.audit, "SIGHUP", "", "reload-units", {}, "", "", ""};
    rack.folder.Put("units", "127.0.0.2 name=desk-1 site=c\n127.0.0.5\n");
    ASSERT_EQ(rack.roster.Reload(reload).fault, RosterFault::kNone);
    EXPECT_EQ(rack.Units()[0]["labels"], (json{{"site", "c"}}));
    EXPECT_TRUE(rack.Lists("127.0.0.5"));
    EXPECT_TRUE(rack.gw.Streamed("event: unit-added"));
    EXPECT_TRUE(rack.gw.Streamed("event: unit-relabelled"));

    rack.folder.Put("units", "127.0.0.5\n127.0.0.6 site\n");
    const RosterOutcome bad = rack.roster.Reload(reload);
    EXPECT_EQ(bad.fault, RosterFault::kBadEntry);
    EXPECT_NE(bad.why.find("line 2"), std::string::npos) << bad.why;
    EXPECT_TRUE(rack.Lists("127.0.0.2"));

    rack.folder.Put("units", "127.0.0.5\n");
    ASSERT_EQ(rack.roster.Reload(reload).fault, RosterFault::kNone);
    EXPECT_FALSE(rack.Lists("127.0.0.2"));
    EXPECT_TRUE(rack.gw.Watched([&] { return rack.gw.Carried("event: unit-removed"); }));
    const json audit = InProcessGateway::Json(rack.gw.Call("GET", "/api/audit?who=SIGHUP"));
    EXPECT_EQ(audit["entries"][0]["params"]["removed"], (json{"127.0.0.2"}));
}

}  // namespace
}  // namespace gateway_unit_roster_test
}  // namespace vantrel::gateway

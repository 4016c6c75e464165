// Snapshots in the gateway, in this process on fake links: capture, the dry run, apply, diff
// and the undo of an apply, with one unit down throughout and one that does not take its meter
// mode; and the store, which must take a change before it shows.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "tests/support/in_process_gateway.h"
#include "tests/support/memory_store.h"

namespace vantrel {
namespace gateway_snapshots_test {
namespace {

using nlohmann::json;
using testing::InProcessGateway;
namespace b = status_byte;

const std::map<std::string, gateway::UnitNaming> kNaming{
    {"a", {"desk-a", {{"site", "x"}}}},
    {"b", {"", {{"site", "x"}}}},
    {"c", {"", {{"site", "x"}}}},
    {"d", {"", {{"site", "y"}}}},
};

// Each unit's entry of an answer's "units", by unit.
std::map<std::string, json> ByUnit(const json& body) {
    std::map<std::string, json> units;
    for (const json& unit : body["units"]) units[unit["unit"]] = unit;
    return units;
}

// Each setting's entry of a list, by setting.
std::map<std::string, json> BySetting(const json& list) {
    std::map<std::string, json> settings;
    for (const json& entry : list) settings[entry["setting"]] = entry;
    return settings;
}

struct SnapshotGateway : ::testing::Test {
    void SetUp() override {
        ASSERT_FALSE(gw.api.Snapshots().Load(store));
        gw.Start();
        ASSERT_TRUE(gw.AllUp());
    }
    // b stops answering, and is down from its next poll on.
    void TakeDownB() {
        gw.Unit("b").Refuse(true);
        ASSERT_TRUE(gw.Watched([&] { return gw.Link("b") == gateway::LinkState::Down; }));
    }
    json Post(const std::string& path, const std::string& body, int status = 200) {
        const gateway::HttpResponse response = gw.Call("POST", path, body);
        EXPECT_EQ(response.status, status) << path << " " << response.body;
        return InProcessGateway::Json(response);
    }
    int Presses() {
        int presses = 0;
        for (const char* unit : {"a", "c", "d"}) presses += gw.Unit(unit).Presses();
        return presses;
    }

    std::shared_ptr<testing::MemoryStore> store = std::make_shared<testing::MemoryStore>();
    InProcessGateway gw{{"a", "b", "c", "d"}, {}, kNaming};
};

TEST_F(SnapshotGateway, CaptureDryRunApplyDiffAndUndoWithOneUnitDownAndOneRefusing) {
    gw.Unit("a").Set(b::kVolume, 10);
    gw.Unit("c").Set(b::kMeterMode, 1);
    const json taken = Post("/api/snapshots", R"({"name": "morning", "select": "all"})", 201);
    EXPECT_EQ(ByUnit(taken).at("a")["name"], "desk-a");
    EXPECT_EQ(taken["snapshot"]["units"].size(), 4u);
    EXPECT_EQ(taken["snapshot"]["takenBy"], "local");
    ASSERT_EQ(store->Saved().count("morning"), 1u);
    EXPECT_EQ(store->Saved().at("morning").Find("a")->values.at(groups::Setting::kVolume), 10);

    // b goes down; a's volume and input move, c's meter mode and volume; d stays as taken.
    TakeDownB();
    gw.Unit("a").Set(b::kVolume, 5);
    gw.Unit("a").Set(b::kInput, 2);
    gw.Unit("c").Set(b::kMeterMode, 0);
    gw.Unit("c").Set(b::kVolume, 3);
    const int reads = gw.Unit("d").StatusReads();

    const json dry = Post("/api/snapshots/morning/validate", R"({"select": "all"})");
    auto planned = ByUnit(dry);
    EXPECT_EQ(planned.at("b")["refusal"]["reason"], "unit down");
    EXPECT_TRUE(planned.at("a")["refusal"].is_null());
    const auto aPlan = BySetting(planned.at("a")["plan"]);
    ASSERT_EQ(aPlan.size(), 2u) << planned.at("a");
    EXPECT_EQ(planned.at("a")["plan"][0]["setting"], "input");  // the input before the levels
    EXPECT_EQ(aPlan.at("volume")["live"], 5);
    EXPECT_EQ(aPlan.at("volume")["snapshot"], 10);
    EXPECT_EQ(planned.at("c")["plan"].size(), 2u);
    EXPECT_TRUE(planned.at("d")["plan"].empty());
    EXPECT_GT(gw.Unit("d").StatusReads(), reads);  // read through its queue
    EXPECT_EQ(Presses(), 0);
    EXPECT_EQ(gw.Unit("a").Get(b::kVolume), 5);
    EXPECT_TRUE(gw.audit.Query("", "", 100).empty());

    const json applied = Post("/api/snapshots/morning/apply", R"({"select": "all"})");
    const auto outcome = ByUnit(applied);
    EXPECT_TRUE(outcome.at("a")["done"].get<bool>()) << outcome.at("a");
    for (const json& step : outcome.at("a")["steps"]) EXPECT_EQ(step["state"], "done") << step;
    EXPECT_EQ(gw.Unit("a").Get(b::kVolume), 10);
    EXPECT_EQ(gw.Unit("a").Get(b::kInput), 0);
    EXPECT_EQ(outcome.at("b")["refusal"]["reason"], "unit down");
    // c does not take its meter mode, which fails with its reason; its volume goes on.
    EXPECT_FALSE(outcome.at("c")["done"].get<bool>());
    const auto cSteps = BySetting(outcome.at("c")["steps"]);
    EXPECT_EQ(cSteps.at("meterMode")["state"], "failed");
    EXPECT_NE(cSteps.at("meterMode").value("why", ""), "");
    EXPECT_EQ(cSteps.at("volume")["state"], "done");
    EXPECT_EQ(gw.Unit("c").Get(b::kVolume), 0);
    EXPECT_TRUE(outcome.at("d")["done"].get<bool>());
    EXPECT_TRUE(outcome.at("d")["steps"].empty());
    EXPECT_EQ(gw.Unit("d").Presses(), 0);
    std::map<std::string, json> ended;
    for (const json& entry : gw.audit.Query("", "", 100)) {
        if (entry.value("group", "") == applied["group"] && entry["phase"] == "ended") {
            ended[entry["unit"]] = entry;
        }
    }
    EXPECT_EQ(ended.size(), 4u);
    EXPECT_EQ(ended.at("a")["action"], "apply-snapshot");
    EXPECT_EQ(ended.at("a")["command"], outcome.at("a")["command"]);

    const gateway::HttpResponse diff =
        gw.Call("GET", "/api/snapshots/morning/diff?select=site%3Dx");
    ASSERT_EQ(diff.status, 200) << diff.body;
    const auto differs = ByUnit(InProcessGateway::Json(diff));
    EXPECT_EQ(differs.size(), 3u);
    EXPECT_TRUE(differs.at("b")["down"].get<bool>());
    EXPECT_TRUE(differs.at("a")["differs"].empty());
    ASSERT_EQ(differs.at("c")["differs"].size(), 1u);
    EXPECT_EQ(differs.at("c")["differs"][0]["setting"], "meterMode");

    // a goes back to how the apply found it, as one more audited command.
    const json undone =
        Post("/api/audit/undo", json{{"command", outcome.at("a")["command"]}}.dump());
    EXPECT_TRUE(undone["done"].get<bool>()) << undone;
    EXPECT_EQ(gw.Unit("a").Get(b::kVolume), 5);
    EXPECT_EQ(gw.Unit("a").Get(b::kInput), 2);
    EXPECT_EQ(gw.audit.Query("a", "", 1)[0]["action"], "undo");
}

TEST_F(SnapshotGateway, AStoreThatCannotSaveChangesNothingAndNamesAreKeptApart) {
    TakeDownB();
    store->FailSaves(true);
    EXPECT_EQ(gw.Call("POST", "/api/snapshots", R"({"name": "noon", "select": "all"})").status,
              503);
    EXPECT_EQ(gw.Call("GET", "/api/snapshots/noon").status, 404);
    store->FailSaves(false);
    Post("/api/snapshots", R"({"name": "noon", "select": ["a"]})", 201);
    EXPECT_EQ(gw.Call("POST", "/api/snapshots", R"({"name": "noon", "select": "all"})").status,
              409);
    // b, down, is left out and listed.
    const json again =
        Post("/api/snapshots", R"({"name": "noon", "select": "all", "replace": true})", 201);
    EXPECT_EQ(again["snapshot"]["units"].size(), 3u);
    EXPECT_FALSE(ByUnit(again).at("b")["captured"].get<bool>());
    EXPECT_NE(ByUnit(again).at("b").value("error", ""), "");
    for (const char* bad :
         {R"({"name": "../etc", "select": "all"})", R"({"name": ".hidden", "select": "all"})",
          R"({"name": "x", "select": "site=none"})"}) {
        EXPECT_EQ(gw.Call("POST", "/api/snapshots", bad).status, 400) << bad;
    }
    const json list = InProcessGateway::Json(gw.Call("GET", "/api/snapshots"));
    ASSERT_EQ(list["snapshots"].size(), 1u);
    EXPECT_EQ(list["snapshots"][0]["units"], 3);

    store->FailSaves(true);
    EXPECT_EQ(gw.Call("DELETE", "/api/snapshots/noon").status, 503);
    EXPECT_EQ(gw.Call("GET", "/api/snapshots/noon").status, 200);
    store->FailSaves(false);
    EXPECT_EQ(gw.Call("DELETE", "/api/snapshots/noon").status, 200);
    EXPECT_EQ(gw.Call("DELETE", "/api/snapshots/noon").status, 404);
    EXPECT_TRUE(store->Saved().empty());

    // A gateway started on the store finds what it kept.
    Post("/api/snapshots", R"({"name": "evening", "select": "site=y"})", 201);
    gateway::SnapshotBook restarted;
    ASSERT_FALSE(restarted.Load(store));
    ASSERT_TRUE(restarted.Find("evening"));
    EXPECT_EQ(restarted.Find("evening")->units.at(0).unit, "d");
}

// An entry that never ran has no values to set back; an unknown one is not there.
TEST_F(SnapshotGateway, UndoNeedsAnEntryWithValuesFromBefore) {
    TakeDownB();
    EXPECT_EQ(gw.Call("POST", "/api/audit/undo", R"({"command": "nowhere"})").status, 404);
    EXPECT_EQ(gw.Call("POST", "/api/audit/undo", R"({"command": 7})").status, 400);
    const gateway::HttpResponse down = gw.Call("POST", "/api/units/b/press/solo-left", "{}");
    ASSERT_EQ(down.status, 503);
    std::string id;
    for (const json& entry : gw.audit.Query("b", "", 10)) id = entry.value("command", id);
    ASSERT_NE(id, "");
    EXPECT_EQ(gw.Call("POST", "/api/audit/undo", json{{"command", id}}.dump()).status, 409);

    // A press undone: the lamp it lit goes out, and nothing else is touched.
    ASSERT_EQ(gw.Call("POST", "/api/units/a/press/solo-left", "{}").status, 200);
    gw.Unit("a").Set(b::kVolume, 30);
    const json pressed = gw.audit.Query("a", "", 1)[0];
    ASSERT_EQ(pressed["phase"], "ended");
    const json undone = Post("/api/audit/undo", json{{"command", pressed["command"]}}.dump());
    EXPECT_EQ(BySetting(undone["steps"]).count("soloLeft"), 1u) << undone;
    EXPECT_EQ(undone["steps"].size(), 1u);
    EXPECT_EQ(gw.Unit("a").Get(b::kSoloLeft), 0);
    EXPECT_EQ(gw.Unit("a").Get(b::kVolume), 30);
}

// A unit held to a snapshot shows, from its polls, the settings that differ from it, as data, an
// event and a metric; the snapshot cannot be deleted while it is held to it.
TEST_F(SnapshotGateway, AHeldUnitShowsItsDriftAndKeepsItsSnapshot) {
    Post("/api/snapshots", R"({"name": "morning", "select": "all"})", 201);
    auto desire = [&](const std::string& unit, const std::string& body) {
        return gw.Call("PUT", "/api/units/" + unit + "/desired", body).status;
    };
    EXPECT_EQ(desire("a", R"({"snapshot": "evening"})"), 404);
    EXPECT_EQ(desire("z", R"({"snapshot": "morning"})"), 404);
    EXPECT_EQ(desire("a", R"({"snapshot": 3})"), 400);
    store->FailSaves(true);
    EXPECT_EQ(desire("a", R"({"snapshot": "morning"})"), 503);
    store->FailSaves(false);
    EXPECT_TRUE(InProcessGateway::Json(gw.Call("GET", "/api/drift"))["units"].empty());
    ASSERT_EQ(desire("a", R"({"snapshot": "morning"})"), 200);
    EXPECT_EQ(store->LoadAssignments().Value().at("a"), "morning");

    auto drift = [&] { return InProcessGateway::Json(gw.Call("GET", "/api/drift"))["units"]; };
    ASSERT_EQ(drift().size(), 1u);
    EXPECT_TRUE(drift()[0]["differs"].empty());
    // Drift starts and ends with a poll, each told once as an event; the metric counts it.
    gw.ForgetStream();
    gw.Unit("a").Set(b::kVolume, 7);
    ASSERT_TRUE(gw.Watched([&] { return !drift()[0]["differs"].empty(); }));
    EXPECT_EQ(drift()[0]["differs"][0]["setting"], "volume");
    EXPECT_EQ(drift()[0]["differs"][0]["live"], 7);
    EXPECT_EQ(drift()[0]["snapshot"], "morning");
    EXPECT_TRUE(gw.Streamed(R"("drifting":true)"));
    EXPECT_NE(gw.Call("GET", "/metrics").body.find("vantrel_unit_drift{unit=\"a\"} 1\n"),
              std::string::npos);
    gw.ForgetStream();
    gw.Unit("a").Set(b::kVolume, 0);
    ASSERT_TRUE(gw.Watched([&] { return drift()[0]["differs"].empty(); }));
    EXPECT_TRUE(gw.Streamed(R"("drifting":false)"));
    EXPECT_FALSE(gw.Carried(R"("drifting":true)"));

    EXPECT_EQ(gw.Call("DELETE", "/api/snapshots/morning").status, 409);
    ASSERT_EQ(desire("a", R"({"snapshot": null})"), 200);
    EXPECT_TRUE(store->LoadAssignments().Value().empty());
    EXPECT_EQ(gw.Call("DELETE", "/api/snapshots/morning").status, 200);
}

}  // namespace
}  // namespace gateway_snapshots_test
}  // namespace vantrel

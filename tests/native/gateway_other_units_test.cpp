#include <gtest/gtest.h>

#include "gateway/api/forwarder.h"
#include "tests/support/in_process_gateway.h"

namespace vantrel::testing {
namespace gateway_other_units_test {
namespace {

using nlohmann::json;

// The states other gateways published, as a test sets them.
class PublishedUnits : public gateway::OtherUnits {
  public:
    std::map<std::string, json> States() const override { return states; }
    std::optional<json> StateOf(const std::string& unit) const override {
        const auto state = states.find(unit);
        return state == states.end() ? std::nullopt : std::optional(state->second);
    }
    std::map<std::string, json> states;
};

// "a" is driven here; "b" has a monitor here too but another gateway drives it.
class DrivenElsewhere : public gateway::UnitOwners {
  public:
    gateway::UnitOwner OwnerOf(const std::string& unit) const override {
        if (unit == "a") return {};
        return {gateway::Ownership::kElsewhere, {"other", "http://127.0.0.1:1"}};
    }
};

TEST(OtherUnitsTest, EveryUnitIsShownOnceAsItsOwnerSeesIt) {
    InProcessGateway gw({"a", "b"});
    DrivenElsewhere owners;
    gateway::Forwarder forwarder{"here", {}};
    PublishedUnits published;
    // "c" was published before it was taken out of the units.
    published.states = {{"a", {{"unit", "a"}, {"link", "stale copy"}}},
                        {"b", {{"unit", "b"}, {"link", "up"}, {"from", "other"}}},
                        {"c", {{"unit", "c"}, {"link", "down"}, {"from", "removed"}}}};
    gw.api.SetOwners(owners, forwarder);
    gw.api.SetOtherUnits(published);
    gw.Start();
    ASSERT_TRUE(gw.AllUp());

    std::map<std::string, json> listed;
    const json units = InProcessGateway::Json(gw.Call("GET", "/api/units"));
    for (const json& unit : units["units"]) {
        EXPECT_TRUE(listed.emplace(unit["unit"], unit).second) << unit;
    }
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed["a"]["link"], "up");  // its own monitor's, not a stale publication
    EXPECT_EQ(listed["b"], published.states["b"]);

    EXPECT_EQ(InProcessGateway::Json(gw.Call("GET", "/api/units/a"))["link"], "up");
    EXPECT_EQ(InProcessGateway::Json(gw.Call("GET", "/api/units/b")), published.states["b"]);
    EXPECT_EQ(gw.Call("GET", "/api/units/c").status, 404);

    // A new event stream begins with every unit, those of other gateways too.
    const gateway::HttpResponse stream = gw.Call("GET", "/api/events");
    ASSERT_TRUE(stream.stream);
    std::string events, event;
    while (stream.stream->Next(event, std::chrono::milliseconds(0)) && !event.empty()) {
        events += event;
    }
    EXPECT_NE(events.find(published.states["b"].dump()), std::string::npos) << events;
    EXPECT_EQ(events.find("stale copy"), std::string::npos) << events;
    EXPECT_EQ(events.find("removed"), std::string::npos) << events;
}

}  // namespace
}  // namespace gateway_other_units_test
}  // namespace vantrel::testing

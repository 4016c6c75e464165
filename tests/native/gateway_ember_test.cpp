// The Ember+ provider's security rules over real loopback sockets: the allow list, read-only,
// the connection limit and a malformed frame; a set, as the audit log records it; and the
// tree's limits: the paths it resolves and the values a set may take, and the values a unit's
// published state gives.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ember/glow.h"
#include "ember/s101.h"
#include "gateway/emberplus/ember_access.h"
#include "gateway/emberplus/ember_tree.h"
#include "gateway/fleet/unit_json.h"
#include "tests/support/ember_socket.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_ember_test {
namespace {

using std::chrono::milliseconds;
using namespace ember;
using testing::EmberSocket;

testing::RunningGateway EmberGateway(const std::string& allow, bool readOnly) {
    testing::RunningGateway gw(1, "127.0.0.1", std::nullopt, {}, [&](gateway::GatewayOptions& o) {
        gateway::EmberOptions ember;
        ember.port = 0;
        std::string why;
        if (!allow.empty()) gateway::ParseEmberAllow(allow, ember.allow, why);
        ember.readOnly = readOnly;
        o.ember = ember;
    });
    // Its first reading is in the tree before a consumer asks, so that it is not streamed to one
    // among the answers a test counts.
    if (gw.started) gw.started = gw.AllUp();
    return gw;
}

// The unit's path: vantrel 1, units 1, the first unit 1.
Root Set(std::uint32_t parameter, Value value) {
    Element set = QualifiedElement(ElementKind::kParameter, {1, 1, 1, parameter});
    ParameterContents contents;
    contents.value = std::move(value);
    set.contents = contents;
    return {std::vector<Element>{set}};
}

Root Invoke(std::uint32_t button, std::int32_t id) {
    Element function = QualifiedElement(ElementKind::kFunction, {1, 1, 1, 15, button});
    function.children = std::vector<Element>{
        CommandElement({CommandType::kInvoke, std::nullopt, Invocation{id, {}}})};
    return {std::vector<Element>{function}};
}

Root GetDirectory() {
    return {std::vector<Element>{CommandElement({CommandType::kGetDirectory, -1, std::nullopt})}};
}

TEST(GatewayEmberTest, AnyAddressButLoopbackNeedsAnAllowListOfWellFormedBlocks) {
    EXPECT_FALSE(gateway::NeedsAllowList("127.0.0.1"));
    EXPECT_FALSE(gateway::NeedsAllowList("127.9.9.9"));
    EXPECT_TRUE(gateway::NeedsAllowList("0.0.0.0"));
    EXPECT_TRUE(gateway::NeedsAllowList("10.1.2.3"));
    for (const char* bad : {"", "10.0.0.0/33", "10.0.0", "10.0.0.0/", "10.0.0.0/8,", "a/8",
                            "10.0.0.0/8=", "10.0.0.0/8=admin", "10.0.0.0/8=viewer,x"}) {
        std::vector<gateway::EmberAllow> allow;
        std::string why;
        EXPECT_FALSE(gateway::ParseEmberAllow(bad, allow, why)) << bad;
        EXPECT_FALSE(why.empty());
    }
    using gateway::EmberRole;
    std::vector<gateway::EmberAllow> allow;
    std::string why;
    ASSERT_TRUE(gateway::ParseEmberAllow(
        "10.1.2.77/24,192.168.5.5=viewer,0.0.0.0/0=viewer,10.1.2.9=operator", allow, why))
        << why;
    EXPECT_EQ(gateway::RoleOf({allow[0]}, 0x0A0102FF), EmberRole::kOperator);
    EXPECT_EQ(gateway::RoleOf({allow[0]}, 0x0A010300), std::nullopt);
    EXPECT_EQ(gateway::RoleOf({allow[1]}, 0xC0A80505), EmberRole::kViewer);
    EXPECT_EQ(gateway::RoleOf({allow[1]}, 0xC0A80506), std::nullopt);
    // The narrowest block decides, wherever it is listed.
    EXPECT_EQ(gateway::RoleOf(allow, 0x01020304), EmberRole::kViewer);
    EXPECT_EQ(gateway::RoleOf(allow, 0x0A010208), EmberRole::kOperator);
    EXPECT_EQ(gateway::RoleOf(allow, 0xC0A80505), EmberRole::kViewer);
    EXPECT_EQ(gateway::RoleOf({}, 0x01020304), EmberRole::kOperator);
}

TEST(GatewayEmberTest, TheTreeResolvesOnlyItsOwnPathsAndSetsOnlyValuesThatFit) {
    namespace tree = gateway::ember_tree;
    using Kind = tree::Place::Kind;
    const auto buttons = static_cast<std::uint32_t>(tree::Buttons().size());
    const std::vector<std::uint32_t> strays[] = {
        {},           {2},           {1, 2},          {1, 1, 0},        {1, 1, 3},
        {1, 1, 1, 0}, {1, 1, 1, 16}, {1, 1, 1, 2, 1}, {1, 1, 1, 15, 0}, {1, 1, 1, 15, buttons + 1}};
    for (const auto& path : strays) {
        EXPECT_EQ(tree::Resolve(path, 2).kind, Kind::kNone) << ::testing::PrintToString(path);
    }
    const tree::Place button = tree::Resolve({1, 1, 2, 15, buttons}, 2);
    EXPECT_EQ(button.kind, Kind::kButton);
    EXPECT_EQ(button.unit, 1u);
    EXPECT_EQ(button.number, buttons);
    EXPECT_EQ(tree::Resolve({1, 1, 2, tree::kLastParameter}, 2).kind, Kind::kParameter);

    EXPECT_EQ(tree::Settable(tree::kVolume, Value(std::int64_t{40})), 40);
    EXPECT_EQ(tree::Settable(tree::kVolume + 1, Value(std::int64_t{255})), 255);
    EXPECT_EQ(tree::Settable(tree::kInput, Value(std::int64_t{3})), 3);
    EXPECT_EQ(tree::Settable(tree::kMixDown, Value(true)), 1);
    const std::pair<std::uint32_t, Value> refused[] = {
        {tree::kVolume, Value(std::int64_t{41})},
        {tree::kVolume, Value(std::int64_t{-1})},
        {tree::kVolume, Value(30.0)},
        {tree::kVolume + 1, Value(std::int64_t{256})},
        {tree::kInput, Value(std::int64_t{4})},
        {tree::kMeterMode, Value(std::int64_t{2})},
        {tree::kSoloLeft, Value(std::int64_t{1})},
        {tree::kOnline, Value(true)},
        {tree::kLastParameter, Value(std::string("00:11:22:33:44:55"))}};
    for (const auto& [number, value] : refused) {
        EXPECT_FALSE(tree::Settable(number, value)) << tree::ParameterName(number);
    }
}

// A unit that another gateway drives is shown from the state its owner publishes: the values
// its own snapshot would give, before the first read, up, and down with the last values read.
TEST(GatewayEmberTest, TheTreeReadsAPublishedStateAsTheSnapshotItWasMadeFrom) {
    namespace tree = gateway::ember_tree;
    gateway::UnitSnapshot snapshot;
    snapshot.unit = "127.0.0.61";
    EXPECT_EQ(tree::Values(gateway::UnitJson(snapshot)), tree::Values(snapshot));
    UnitReading reading;
    reading.status = {0, 1, 9, 27, 5, 200, 3, 255, 2};  // a meter mode and a lamp not 0 or 1
    reading.network.ip = 0x7F00003D;
    reading.network.mask = 0xFFFFFF00;
    reading.network.mac = MacAddress{0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
    snapshot.reading = reading;
    for (const gateway::LinkState link : {gateway::LinkState::Up, gateway::LinkState::Down}) {
        snapshot.link = link;
        const tree::UnitValues values = tree::Values(snapshot);
        ASSERT_EQ(values[tree::kVolume], Value(std::int64_t{27}));
        EXPECT_EQ(tree::Values(gateway::UnitJson(snapshot)), values)
            << gateway::UnitJson(snapshot).dump();
    }
}

TEST(GatewayEmberTest, AClientOutsideTheAllowListIsClosedAtOnce) {
    auto gw = EmberGateway("127.0.0.5/32,127.0.1.0/24", false);
    ASSERT_TRUE(gw.started) << gw.error;
    const int port = gw.service->EmberPort();
    EmberSocket outside("127.0.0.9", port), inside("127.0.0.5", port), block("127.0.1.77", port);
    ASSERT_TRUE(outside.Connected());
    EXPECT_TRUE(outside.ClosedWithin(milliseconds(2000)));
    EXPECT_TRUE(inside.Alive());
    EXPECT_TRUE(block.Alive());
}

TEST(GatewayEmberTest, ReadOnlySendsNothingToTheUnitAndAnswersWithTheCurrentValues) {
    auto gw = EmberGateway("", true);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    sim::TrafficLog& log = gw.units[0]->log;
    // What the polls send, before anything is asked.
    std::this_thread::sleep_for(milliseconds(1500));
    const std::vector<std::string> polls = log.Lines("tcp");
    const std::set<std::string> pollLines(polls.begin(), polls.end());
    const int volume = gw.units[0]->unit.State().levels[0];

    EmberSocket client("127.0.0.1", gw.service->EmberPort());
    ASSERT_TRUE(client.Send(Set(2, std::int64_t{volume == 30 ? 31 : 30})));
    std::optional<Root> answer = client.NextRoot();
    ASSERT_TRUE(answer);
    const Element& parameter = std::get<std::vector<Element>>(answer->body).at(0);
    const auto& contents = std::get<ParameterContents>(parameter.contents);
    EXPECT_EQ(contents.value, Value(std::int64_t{volume}));
    EXPECT_EQ(contents.access, Access::kRead);

    ASSERT_TRUE(client.Send(Invoke(13, 42)));
    answer = client.NextRoot();
    ASSERT_TRUE(answer);
    const auto& result = std::get<InvocationResult>(answer->body);
    EXPECT_EQ(result.id, 42);
    EXPECT_EQ(result.success, false);

    std::this_thread::sleep_for(milliseconds(1500));
    for (const std::string& line : log.Lines("tcp")) {
        EXPECT_TRUE(pollLines.count(line)) << "sent to the unit: " << line;
    }
    EXPECT_EQ(gw.units[0]->unit.State().levels[0], volume);
}

TEST(GatewayEmberTest, Of200ConnectionsThe65thAndLaterAreClosedAndTheFirst64Work) {
    auto gw = EmberGateway("", false);
    ASSERT_TRUE(gw.started) << gw.error;
    const int port = gw.service->EmberPort();
    std::vector<std::unique_ptr<EmberSocket>> clients;
    for (int i = 0; i < 200; ++i) {
        // Four from each address, under the most from one.
        const std::string from = "127.0.2." + std::to_string(i / 4 + 1);
        clients.push_back(std::make_unique<EmberSocket>(from, port));
        ASSERT_TRUE(clients.back()->Connected());
        // Each is admitted or closed before the next comes, so the count is exact.
        if (i < 64) {
            ASSERT_TRUE(clients.back()->Alive()) << i;
        }
    }
    for (int i = 64; i < 200; ++i) EXPECT_TRUE(clients[i]->ClosedWithin(milliseconds(2000))) << i;
    auto metrics = gw.Client().Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_NE(metrics->body.find("vantrel_ember_clients 64\n"), std::string::npos);
    for (int i = 0; i < 64; ++i) {
        ASSERT_TRUE(clients[i]->Send(GetDirectory()));
        std::optional<Root> root = clients[i]->NextRoot();
        ASSERT_TRUE(root) << i;
        const auto& top = std::get<std::vector<Element>>(root->body);
        ASSERT_EQ(top.size(), 1u);
        EXPECT_EQ(std::get<NodeContents>(top[0].contents).identifier, "vantrel");
    }
}

TEST(GatewayEmberTest, ASetRunsThroughTheUnitsQueueAndIsAuditedAsEmber) {
    auto gw = EmberGateway("", false);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const int volume = gw.units[0]->unit.State().levels[0];
    const int wanted = volume == 12 ? 13 : 12;
    EmberSocket client("127.0.0.1", gw.service->EmberPort());
    ASSERT_TRUE(client.Send(Set(2, std::int64_t{wanted})));
    std::optional<Root> answer = client.NextRoot();
    ASSERT_TRUE(answer);
    const Element& parameter = std::get<std::vector<Element>>(answer->body).at(0);
    EXPECT_EQ(std::get<ParameterContents>(parameter.contents).value, Value(std::int64_t{wanted}));
    EXPECT_EQ(gw.units[0]->unit.State().levels[0], wanted);
    auto audit = gw.Client().Get("/api/audit");
    ASSERT_TRUE(audit);
    const auto entry = nlohmann::json::parse(audit->body)["entries"].at(0);
    EXPECT_EQ(entry["who"], "ember");
    EXPECT_EQ(entry["from"], "127.0.0.1");
    EXPECT_EQ(entry["params"]["parameter"], "volume");
}

// A lamp's button flips it, so a set is judged by the unit when it runs, not by the last poll:
// turned on at the front panel just before, it stays on.
TEST(GatewayEmberTest, ALampSetToWhatTheUnitAlreadyShowsPressesNothing) {
    auto gw = EmberGateway("", false);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    EmberSocket client("127.0.0.1", gw.service->EmberPort());
    gw.units[0]->unit.Update([](sim::UnitState& s) { s.soloLeft = 1; });
    ASSERT_TRUE(client.Send(Set(gateway::ember_tree::kSoloLeft, true)));
    ASSERT_TRUE(client.NextRoot());
    EXPECT_EQ(gw.units[0]->unit.State().soloLeft, 1);
    ASSERT_TRUE(client.Send(Set(gateway::ember_tree::kSoloLeft, false)));
    ASSERT_TRUE(client.NextRoot());
    EXPECT_EQ(gw.units[0]->unit.State().soloLeft, 0);
}

TEST(GatewayEmberTest, AMalformedFrameClosesOnlyItsOwnConnection) {
    auto gw = EmberGateway("", false);
    ASSERT_TRUE(gw.started) << gw.error;
    const int port = gw.service->EmberPort();
    EmberSocket good("127.0.0.1", port), badCrc("127.0.0.1", port), badGlow("127.0.0.1", port);
    ASSERT_TRUE(good.Alive());
    Bytes frame = EncodeS101({S101Kind::kEmber, EncodeGlow(GetDirectory())});
    frame[frame.size() - 3] ^= 0x01;
    ASSERT_TRUE(badCrc.Send(frame));
    ASSERT_TRUE(badGlow.Send(EncodeS101({S101Kind::kEmber, {0x60, 0x05, 0x6B, 0x7F}})));
    EXPECT_TRUE(badCrc.ClosedWithin(milliseconds(2000)));
    EXPECT_TRUE(badGlow.ClosedWithin(milliseconds(2000)));
    EXPECT_TRUE(good.Alive());
}

}  // namespace
}  // namespace gateway_ember_test
}  // namespace vantrel

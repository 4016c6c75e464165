// The Ember+ provider against consumers that ask much, or wrongly: requests that carry what the
// consumer holds are never sets, a set of what the unit already has sends nothing, a viewer
// moves nothing, and connections and work are bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ember/glow.h"
#include "ember/s101.h"
#include "gateway/emberplus/ember_access.h"
#include "gateway/emberplus/ember_tree.h"
#include "tests/support/ember_socket.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_ember_limits_test {
namespace {

using std::chrono::milliseconds;
using namespace ember;
using testing::EmberSocket;
namespace tree = gateway::ember_tree;

testing::RunningGateway Gateway(const std::function<void(gateway::EmberOptions&)>& adjust = {}) {
    testing::RunningGateway gw(1, "127.0.0.1", std::nullopt, {}, [&](gateway::GatewayOptions& o) {
        gateway::EmberOptions ember;
        ember.port = 0;
        if (adjust) adjust(ember);
        o.ember = ember;
    });
    // Its first reading is in the tree before a consumer asks, so that it is not streamed to one
    // among the answers a test counts.
    if (gw.started) gw.started = gw.AllUp();
    return gw;
}

// The first unit's parameter, as a consumer that keeps a tree sends it: with what it holds.
Element Held(std::uint32_t number, Value value) {
    Element parameter = QualifiedElement(ElementKind::kParameter, {1, 1, 1, number});
    ParameterContents contents;
    contents.identifier = tree::ParameterName(number);
    contents.value = std::move(value);
    parameter.contents = contents;
    return parameter;
}

Root Carrying(std::uint32_t number, Value value, CommandType command) {
    Element parameter = Held(number, std::move(value));
    parameter.children = std::vector<Element>{CommandElement({command, std::nullopt, {}})};
    return {std::vector<Element>{parameter}};
}

Root Set(std::uint32_t number, Value value) { return {std::vector<Element>{Held(number, value)}}; }

const ParameterContents& OnlyParameter(const std::optional<Root>& root) {
    return std::get<ParameterContents>(std::get<std::vector<Element>>(root->body).at(0).contents);
}

std::int64_t Level(const testing::RunningGateway& gw, int index) {
    return gw.units[0]->unit.State().levels[index];
}

nlohmann::json AuditEntries(const testing::RunningGateway& gw) {
    auto audit = gw.Client().Get("/api/audit");
    return audit ? nlohmann::json::parse(audit->body)["entries"] : nlohmann::json();
}

// Each case ends with a real set of brightness: a set queued before it, had there been one,
// would have run first and be in the audit log before it.
void ExpectOnlyTheBrightnessSet(const testing::RunningGateway& gw, EmberSocket& client) {
    const std::int64_t wanted = Level(gw, 1) == 100 ? 101 : 100;
    ASSERT_TRUE(client.Send(Set(tree::kVolume + 1, wanted)));
    nlohmann::json entries;
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            entries = AuditEntries(gw);
            return entries.dump().find("lcd-brightness") != std::string::npos;
        },
        milliseconds(5000)));
    ASSERT_EQ(entries.size(), 1u) << entries.dump();
}

TEST(GatewayEmberLimitsTest, ARequestCarryingAValueOrTheValueTheUnitHasSetsNothing) {
    auto gw = Gateway();
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const std::int64_t volume = Level(gw, 0);
    const std::int64_t stale = volume == 7 ? 8 : 7;
    EmberSocket client("127.0.0.1", gw.service->EmberPort());
    ASSERT_TRUE(client.Alive());

    // A directory of a parameter is answered with the unit's value, whatever the consumer held.
    ASSERT_TRUE(client.Send(Carrying(tree::kVolume, stale, CommandType::kGetDirectory)));
    EXPECT_EQ(OnlyParameter(client.NextRoot()).value, Value(volume));
    for (CommandType command : {CommandType::kSubscribe, CommandType::kUnsubscribe}) {
        ASSERT_TRUE(client.Send(Carrying(tree::kVolume, stale, command)));
        ASSERT_TRUE(client.Send(Carrying(tree::kInput, std::int64_t{3}, command)));
        ASSERT_TRUE(client.Send(Carrying(tree::kMeterMode, std::int64_t{1}, command)));
    }
    // A set of what the unit already holds is answered at once, with no command.
    ASSERT_TRUE(client.Send(Set(tree::kVolume, volume)));
    EXPECT_EQ(OnlyParameter(client.NextRoot()).value, Value(volume));

    ExpectOnlyTheBrightnessSet(gw, client);
    EXPECT_EQ(Level(gw, 0), volume);
}

// The unit's value is the last word only once nothing waits to change it: a set back to it
// behind one away from it is queued, not dropped as already done.
TEST(GatewayEmberLimitsTest, ASetBackToTheUnitsValueBehindAnotherStillRuns) {
    auto gw = Gateway();
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const std::int64_t volume = Level(gw, 0);
    const std::int64_t away = volume >= 20 ? 0 : 40;
    EmberSocket client("127.0.0.1", gw.service->EmberPort());
    ASSERT_TRUE(client.Send(
        Root{std::vector<Element>{Held(tree::kVolume, away), Held(tree::kVolume, volume)}}));
    std::vector<Value> answers;
    for (int i = 0; i < 2; ++i) {
        const std::optional<Root> answer = client.NextRoot();
        ASSERT_TRUE(answer);
        answers.push_back(*OnlyParameter(answer).value);
    }
    EXPECT_EQ(answers, (std::vector<Value>{Value(away), Value(volume)}));
    EXPECT_EQ(Level(gw, 0), volume);
}

TEST(GatewayEmberLimitsTest, AViewersSetsAndInvokesAreRefusedAndItReadsOnly) {
    auto gw = Gateway([](gateway::EmberOptions& o) {
        std::string why;
        gateway::ParseEmberAllow("127.0.0.0/8,127.0.0.20=viewer", o.allow, why);
    });
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    const std::int64_t volume = Level(gw, 0);
    EmberSocket viewer("127.0.0.20", gw.service->EmberPort());

    ASSERT_TRUE(viewer.Send(Set(tree::kVolume, volume == 30 ? 31 : 30)));
    const std::optional<Root> root = viewer.NextRoot();
    ASSERT_TRUE(root);
    const ParameterContents& answer = OnlyParameter(root);
    EXPECT_EQ(answer.value, Value(volume));
    EXPECT_EQ(answer.access, Access::kRead);

    Element function = QualifiedElement(ElementKind::kFunction, {1, 1, 1, 15, 13});
    function.children = std::vector<Element>{
        CommandElement({CommandType::kInvoke, std::nullopt, Invocation{7, {}}})};
    ASSERT_TRUE(viewer.Send(Root{std::vector<Element>{function}}));
    std::optional<Root> result = viewer.NextRoot();
    ASSERT_TRUE(result);
    EXPECT_EQ(std::get<InvocationResult>(result->body).success, false);

    Element unit = QualifiedElement(ElementKind::kNode, {1, 1, 1});
    unit.children = std::vector<Element>{
        CommandElement({CommandType::kGetDirectory, std::nullopt, std::nullopt})};
    ASSERT_TRUE(viewer.Send(Root{std::vector<Element>{unit}}));
    std::optional<Root> directory = viewer.NextRoot();
    ASSERT_TRUE(directory);
    for (const Element& child : std::get<std::vector<Element>>(directory->body)) {
        if (const auto* p = std::get_if<ParameterContents>(&child.contents)) {
            EXPECT_EQ(p->access, Access::kRead) << *p->identifier;
        }
    }

    EmberSocket operatorClient("127.0.0.21", gw.service->EmberPort());
    ExpectOnlyTheBrightnessSet(gw, operatorClient);
    EXPECT_EQ(Level(gw, 0), volume);
}

// A consumer that asks with the node's contents, as one that keeps a tree does, gets the node
// itself holding its children, so a directory it asked before completes again; one that asks
// by path alone gets the children, each by its path.
TEST(GatewayEmberLimitsTest, ADirectoryAskedWithTheNodesContentsAnswersWithTheNodeItself) {
    auto gw = Gateway();
    ASSERT_TRUE(gw.started) << gw.error;
    EmberSocket client("127.0.0.1", gw.service->EmberPort());
    Element unit = QualifiedElement(ElementKind::kNode, {1, 1, 1});
    unit.children = std::vector<Element>{
        CommandElement({CommandType::kGetDirectory, std::nullopt, std::nullopt})};
    ASSERT_TRUE(client.Send(Root{std::vector<Element>{unit}}));
    std::optional<Root> byPath = client.NextRoot();
    ASSERT_TRUE(byPath);
    const auto& children = std::get<std::vector<Element>>(byPath->body);
    ASSERT_EQ(children.size(), tree::kButtonsNode);
    EXPECT_EQ(children[0].path, (std::vector<std::uint32_t>{1, 1, 1, 1}));

    NodeContents held;
    held.identifier = "127_0_60_1";
    unit.contents = held;
    ASSERT_TRUE(client.Send(Root{std::vector<Element>{unit}}));
    std::optional<Root> itself = client.NextRoot();
    ASSERT_TRUE(itself);
    const auto& top = std::get<std::vector<Element>>(itself->body);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_TRUE(top[0].qualified);
    EXPECT_EQ(top[0].path, (std::vector<std::uint32_t>{1, 1, 1}));
    EXPECT_EQ(std::get<NodeContents>(top[0].contents).identifier, "127_0_60_1");
    ASSERT_TRUE(top[0].children);
    ASSERT_EQ(top[0].children->size(), tree::kButtonsNode);
    EXPECT_EQ(top[0].children->at(1).path, (std::vector<std::uint32_t>{2}));
}

TEST(GatewayEmberLimitsTest, ASilentConsumerIsClosedAndOneThatKeepsAliveIsNot) {
    const milliseconds idle(300);
    auto gw = Gateway([&](gateway::EmberOptions& o) { o.idle = idle; });
    ASSERT_TRUE(gw.started) << gw.error;
    EmberSocket silent("127.0.0.1", gw.service->EmberPort());
    EmberSocket alive("127.0.0.1", gw.service->EmberPort());
    const auto start = std::chrono::steady_clock::now();
    while (testing::SecondsSince(start) < 4 * idle.count() / 1000.0) {
        ASSERT_TRUE(alive.Alive());
    }
    EXPECT_TRUE(silent.ClosedWithin(milliseconds(2000)));
    EXPECT_TRUE(alive.Alive());
}

TEST(GatewayEmberLimitsTest, TheNinthConnectionFromOneAddressIsClosedAndOthersStillCome) {
    auto gw = Gateway();
    ASSERT_TRUE(gw.started) << gw.error;
    const int port = gw.service->EmberPort();
    std::vector<std::unique_ptr<EmberSocket>> eight;
    for (int i = 0; i < 8; ++i) {
        eight.push_back(std::make_unique<EmberSocket>("127.0.0.7", port));
        ASSERT_TRUE(eight.back()->Alive()) << i;
    }
    EmberSocket ninth("127.0.0.7", port);
    EXPECT_TRUE(ninth.ClosedWithin(milliseconds(2000)));
    EmberSocket elsewhere("127.0.0.8", port);
    EXPECT_TRUE(elsewhere.Alive());
    // One gone, its address may come again.
    eight.pop_back();
    EXPECT_TRUE(testing::WaitUntil([&] { return EmberSocket("127.0.0.7", port).Alive(); },
                                   milliseconds(2000)));
}

TEST(GatewayEmberLimitsTest, TheDecoderReadsNoMoreElementsThanItIsAllowed) {
    Element node = QualifiedElement(ElementKind::kNode, {1, 1, 1});
    node.children = std::vector<Element>(
        3000, CommandElement({CommandType::kGetDirectory, std::nullopt, std::nullopt}));
    const Bytes bytes = EncodeGlow({std::vector<Element>{node, node}});
    ember::Result<Root> all = DecodeGlow(bytes);
    ASSERT_TRUE(all.Ok());
    EXPECT_EQ(std::get<std::vector<Element>>(all.Value().body).at(1).children->size(), 3000u);
    ember::Result<Root> few = DecodeGlow(bytes, 10);
    ASSERT_TRUE(few.Ok());
    const auto& elements = std::get<std::vector<Element>>(few.Value().body);
    ASSERT_EQ(elements.size(), 1u);
    EXPECT_EQ(elements[0].children->size(), 9u);
}

// Thousands of requests in one message: the first 64 are answered, the rest passed over, and the
// connection serves what comes next.
TEST(GatewayEmberLimitsTest, AMessageOfThousandsOfRequestsIsAnsweredOnlyInPart) {
    auto gw = Gateway();
    ASSERT_TRUE(gw.started) << gw.error;
    EmberSocket client("127.0.0.1", gw.service->EmberPort());
    const std::vector<Element> many(
        3000, CommandElement({CommandType::kGetDirectory, std::nullopt, std::nullopt}));
    ASSERT_TRUE(client.Send(Root{many}));
    Element parameter = QualifiedElement(ElementKind::kParameter, {1, 1, 1, tree::kVolume});
    parameter.children = std::vector<Element>{
        CommandElement({CommandType::kGetDirectory, std::nullopt, std::nullopt})};
    ASSERT_TRUE(client.Send(Root{std::vector<Element>{parameter}}));
    int directories = 0;
    while (std::optional<Root> root = client.NextRoot()) {
        const auto& elements = std::get<std::vector<Element>>(root->body);
        if (elements.size() == 1 && elements[0].kind == ElementKind::kParameter) break;
        ++directories;
    }
    EXPECT_EQ(directories, 64);
    EXPECT_TRUE(client.Alive());
}

}  // namespace
}  // namespace gateway_ember_limits_test
}  // namespace vantrel

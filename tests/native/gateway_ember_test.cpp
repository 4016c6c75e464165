// The Ember+ provider's security rules over real loopback sockets: the allow list, read-only,
// the connection limit and a malformed frame; a set, as the audit log records it; and the
// tree's limits: the paths it resolves and the values a set may take.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ember/glow.h"
#include "ember/s101.h"
#include "gateway/ember_access.h"
#include "gateway/ember_tree.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;
using namespace ember;

/// An Ember+ consumer's socket from a chosen loopback address, every wait with a limit.
class EmberSocket {
  public:
    EmberSocket(const std::string& from, int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in local{}, remote{};
        local.sin_family = remote.sin_family = AF_INET;
        inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        remote.sin_port = htons(static_cast<std::uint16_t>(port));
        m_connected = bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                      connect(m_fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    }
    ~EmberSocket() { close(m_fd); }
    EmberSocket(const EmberSocket&) = delete;
    EmberSocket& operator=(const EmberSocket&) = delete;

    bool Connected() const { return m_connected; }
    bool Send(const Bytes& bytes) {
        return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool Send(const Root& root) { return Send(EncodeS101({S101Kind::kEmber, EncodeGlow(root)})); }
    /// The next message within `limit`; none when the connection closed or the time passed.
    std::optional<S101Message> Next(milliseconds limit = milliseconds(5000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (m_messages.empty() && !m_closed) {
            const auto left =
                std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t buffer[4096];
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                m_closed = true;
                break;
            }
            m_decoder.Feed(buffer, static_cast<std::size_t>(n),
                           [&](S101Message m) { m_messages.push_back(std::move(m)); });
        }
        if (m_messages.empty()) return std::nullopt;
        S101Message message = std::move(m_messages.front());
        m_messages.erase(m_messages.begin());
        return message;
    }
    /// The next Glow message, keep-alives passed over.
    std::optional<Root> NextRoot(milliseconds limit = milliseconds(5000)) {
        while (std::optional<S101Message> m = Next(limit)) {
            if (m->kind == S101Kind::kEmber) return DecodeGlow(m->glow).Value();
        }
        return std::nullopt;
    }
    bool ClosedWithin(milliseconds limit) {
        while (Next(limit)) {
        }
        return m_closed;
    }
    /// A keep-alive asked and answered.
    bool Alive() {
        if (!Send(EncodeS101({S101Kind::kKeepAliveRequest, {}}))) return false;
        std::optional<S101Message> m = Next();
        return m && m->kind == S101Kind::kKeepAliveResponse;
    }

  private:
    int m_fd;
    bool m_connected = false;
    bool m_closed = false;
    S101Decoder m_decoder;
    std::vector<S101Message> m_messages;
};

testing::RunningGateway EmberGateway(const std::string& allow, bool readOnly) {
    return testing::RunningGateway(1, "127.0.0.1", std::nullopt, {},
                                   [&](gateway::GatewayOptions& o) {
                                       gateway::EmberOptions ember;
                                       ember.port = 0;
                                       std::string why;
                                       if (!allow.empty())
                                           gateway::ParseCidrs(allow, ember.allow, why);
                                       ember.readOnly = readOnly;
                                       o.ember = ember;
                                   });
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
    for (const char* bad : {"", "10.0.0.0/33", "10.0.0", "10.0.0.0/", "10.0.0.0/8,", "a/8"}) {
        std::vector<gateway::Cidr> blocks;
        std::string why;
        EXPECT_FALSE(gateway::ParseCidrs(bad, blocks, why)) << bad;
        EXPECT_FALSE(why.empty());
    }
    std::vector<gateway::Cidr> blocks;
    std::string why;
    ASSERT_TRUE(gateway::ParseCidrs("10.1.2.77/24,192.168.5.5,0.0.0.0/0", blocks, why)) << why;
    EXPECT_TRUE(gateway::InBlocks({blocks[0]}, 0x0A0102FF));
    EXPECT_FALSE(gateway::InBlocks({blocks[0]}, 0x0A010300));
    EXPECT_TRUE(gateway::InBlocks({blocks[1]}, 0xC0A80505));
    EXPECT_FALSE(gateway::InBlocks({blocks[1]}, 0xC0A80506));
    EXPECT_TRUE(gateway::InBlocks({blocks[2]}, 0x01020304));
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
        clients.push_back(std::make_unique<EmberSocket>("127.0.0.1", port));
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
}  // namespace vantrel

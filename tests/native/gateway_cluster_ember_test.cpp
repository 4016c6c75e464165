// Ember+ on one of three gateways sharing nine simulated units through a real etcd: its tree
// holds every unit, those driven elsewhere as their owners publish them, and a change made
// through another gateway is pushed to its consumer; a set or an invoke on a unit driven
// elsewhere is run once by its owner, for the consumer, and sends that unit nothing from the
// gateway the consumer reached. Each gateway's links leave from
// 127.0.67.N, so that the units' line logs tell them apart.
#include <gtest/gtest.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ember/glow.h"
#include "gateway/cluster/rendezvous.h"
#include "gateway/emberplus/ember_tree.h"
#include "tests/support/ember_socket.h"
#include "tests/support/gateway_cluster.h"
#include "tests/support/line_log_reader.h"

namespace vantrel {
namespace gateway_cluster_ember_test {
namespace {

using namespace ember;
using gateway::cluster::RendezvousOwner;
using nlohmann::json;
using testing::WaitUntil;
using Path = std::vector<std::uint32_t>;
namespace tree = gateway::ember_tree;

const std::vector<std::string> kThree{"g1", "g2", "g3"};

std::int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Element Asking(Path path, CommandType type) {
    Element node = QualifiedElement(ElementKind::kNode, std::move(path));
    node.children = std::vector<Element>{CommandElement({type, -1, std::nullopt})};
    return node;
}

Path ParameterPath(std::size_t unit, std::uint32_t number) {
    Path path = tree::UnitPath(unit);
    path.push_back(number);
    return path;
}

// What a consumer holds of the tree, from every answer and pushed change it has read.
struct Held {
    std::map<Path, bool> online;  // by the unit's path
    std::map<Path, ParameterContents> parameters;
    std::optional<InvocationResult> invoked;

    void Take(const Root& root) {
        if (const auto* result = std::get_if<InvocationResult>(&root.body)) {
            invoked = *result;
            return;
        }
        for (const Element& element : std::get<std::vector<Element>>(root.body)) {
            const auto* node = std::get_if<NodeContents>(&element.contents);
            if (node && node->isOnline) online[element.path] = *node->isOnline;
            // A change pushed carries the value alone; an answer, the whole parameter.
            const auto* parameter = std::get_if<ParameterContents>(&element.contents);
            if (parameter && parameter->access) parameters[element.path] = *parameter;
            if (parameter && !parameter->access) parameters[element.path].value = parameter->value;
        }
    }
    std::optional<Value> ValueAt(const Path& path) const {
        const auto found = parameters.find(path);
        return found == parameters.end() ? std::nullopt : found->second.value;
    }
};

class GatewayClusterEmberTest : public testing::GatewayCluster {
  protected:
    GatewayClusterEmberTest() : GatewayCluster("127.0.66.") {}

    void JoinWithEmber(const std::string& id) {
        emberPorts[id] = testing::FreeLoopbackPorts(1).front();
        Join(id, {"--link-source", Source(id), "--ember",
                  "127.0.0.1:" + std::to_string(emberPorts[id])});
    }
    static std::string Source(const std::string& id) { return "127.0.67." + id.substr(1); }

    /// Reads what the consumer is sent into `held` until `done` holds of it.
    template <typename Done>
    bool ReadUntil(testing::EmberSocket& consumer, Held& held, Done done) {
        const auto end = std::chrono::steady_clock::now() + kLimit;
        while (!done() && std::chrono::steady_clock::now() < end) {
            if (auto root = consumer.NextRoot(std::chrono::milliseconds(200))) held.Take(*root);
        }
        return done();
    }

    /// The lines unit `i` heard from `id` from `since` on.
    std::size_t LinesFrom(std::size_t i, const std::string& id, std::int64_t since) {
        std::size_t count = 0;
        for (const testing::LoggedLine& line : testing::ReadLineLog(LineLogPath(i))) {
            count += line.micros >= since && line.address == Source(id);
        }
        return count;
    }

    std::map<std::string, int> emberPorts;
};

TEST_F(GatewayClusterEmberTest, AConsumerOfOneGatewaySeesAndControlsEveryUnit) {
    for (const std::string& id : kThree) JoinWithEmber(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(kThree); }, kLimit)) << json(Owners()).dump();
    const std::string here = RendezvousOwner(kThree, sims.front()->address);
    std::size_t elsewhere = 0;  // a unit that another gateway drives
    while (elsewhere < sims.size() && RendezvousOwner(kThree, sims[elsewhere]->address) == here) {
        ++elsewhere;
    }
    ASSERT_LT(elsewhere, sims.size());
    testing::SimulatedUnit& sim = *sims[elsewhere];
    const std::string owner = RendezvousOwner(kThree, sim.address);
    std::string front;  // neither
    for (const std::string& id : kThree) {
        if (id != here && id != owner) front = id;
    }

    // Every unit is in the tree, in the order etcd holds them, online with the values its
    // owner read.
    testing::EmberSocket consumer("127.0.0.1", emberPorts[here]);
    ASSERT_TRUE(consumer.Connected());
    std::vector<Element> asked{Asking({1, 1}, CommandType::kGetDirectory)};
    for (std::size_t i = 0; i < sims.size(); ++i) {
        asked.push_back(Asking(tree::UnitPath(i), CommandType::kGetDirectory));
    }
    ASSERT_TRUE(consumer.Send(Root{asked}));
    Held held;
    const auto everyUnitShown = [&] {
        if (held.online.size() != sims.size()) return false;
        for (std::size_t i = 0; i < sims.size(); ++i) {
            if (held.online.count(tree::UnitPath(i)) == 0 || !held.online[tree::UnitPath(i)]) {
                return false;
            }
            const Value volume{std::int64_t{sims[i]->unit.State().levels[0]}};
            if (held.ValueAt(ParameterPath(i, tree::kVolume)) != volume) return false;
            if (held.ValueAt(ParameterPath(i, tree::kIp)) != Value(sims[i]->address)) return false;
        }
        return true;
    };
    ASSERT_TRUE(ReadUntil(consumer, held, everyUnitShown)) << [&] {
        std::string shown;
        for (std::size_t i = 0; i < sims.size(); ++i) {
            const auto volume = held.ValueAt(ParameterPath(i, tree::kVolume));
            const auto ip = held.ValueAt(ParameterPath(i, tree::kIp));
            shown += "unit " + std::to_string(i) + ": online " +
                     std::to_string(held.online[tree::UnitPath(i)]) + ", volume " +
                     (volume ? std::to_string(std::get<std::int64_t>(*volume)) : "none") + " of " +
                     std::to_string(sims[i]->unit.State().levels[0]) + ", ip " +
                     (ip ? std::get<std::string>(*ip) : "none") + "\n";
        }
        return shown;
    }();

    // A change made through another gateway reaches the consumer as it would for its own unit.
    const Path volume = ParameterPath(elsewhere, tree::kVolume);
    const int wanted = sim.unit.State().levels[0] == 12 ? 13 : 12;
    const auto set = Client(front).Post(("/api/units/" + sim.address + "/level/volume").c_str(),
                                        json{{"value", wanted}}.dump(), "application/json");
    ASSERT_TRUE(set);
    ASSERT_EQ(set->status, 200) << set->body;
    EXPECT_TRUE(ReadUntil(consumer, held,
                          [&] { return held.ValueAt(volume) == Value(std::int64_t{wanted}); }));

    // A set, a lamp's set and an invoke there are passed to the owner, which runs each once
    // for "ember" at the consumer's address; the consumer is answered with what it did.
    const int mixDownBefore = sim.unit.State().mixDown;
    const bool soloWanted = sim.unit.State().soloLeft == 0;
    const std::int64_t since = NowMicros();
    held.parameters.erase(volume);
    const Path solo = ParameterPath(elsewhere, tree::kSoloLeft);
    held.parameters.erase(solo);
    auto setting = [](Path path, Value value) {
        Element element = QualifiedElement(ElementKind::kParameter, std::move(path));
        ParameterContents contents;
        contents.value = std::move(value);
        element.contents = contents;
        return element;
    };
    const auto& buttons = tree::Buttons();
    const auto mixDown = std::find_if(buttons.begin(), buttons.end(), [](const Button* b) {
        return std::string(b->name) == "mix-down";
    });
    Element press =
        QualifiedElement(ElementKind::kFunction,
                         {1, 1, static_cast<std::uint32_t>(elsewhere + 1), tree::kButtonsNode,
                          static_cast<std::uint32_t>(mixDown - buttons.begin() + 1)});
    press.children = std::vector<Element>{
        CommandElement({CommandType::kInvoke, std::nullopt, Invocation{7, {}}})};
    ASSERT_TRUE(consumer.Send(
        Root{std::vector<Element>{setting(volume, std::int64_t{30}), setting(solo, soloWanted)}}));
    ASSERT_TRUE(consumer.Send(Root{std::vector<Element>{press}}));
    ASSERT_TRUE(ReadUntil(consumer, held, [&] {
        return held.ValueAt(volume) == Value(std::int64_t{30}) &&
               held.ValueAt(solo) == Value(soloWanted) && held.invoked;
    })) << held.invoked.has_value();
    EXPECT_EQ(held.invoked->id, 7);
    EXPECT_EQ(held.invoked->success, true);
    EXPECT_EQ(held.invoked->result, std::vector<Value>{Value(true)});
    EXPECT_EQ(sim.unit.State().levels[0], 30);
    EXPECT_EQ(sim.unit.State().soloLeft, soloWanted ? 1 : 0);
    EXPECT_NE(sim.unit.State().mixDown, mixDownBefore);
    EXPECT_EQ(LinesFrom(elsewhere, here, since), 0u);
    // Each once in the owner's audit log, which may write an entry after the change shows.
    const std::multiset<std::string> passed{
        json{{"level", "volume"}, {"value", 30}}.dump(),
        json{{"button", "solo-left"}, {"on", soloWanted}}.dump(),
        json{{"button", "mix-down"}}.dump()};
    std::multiset<std::string> ran;
    const auto ranAll = [&] {
        ran.clear();
        const auto audit = Client(owner).Get(("/api/audit?unit=" + sim.address).c_str());
        if (!audit || audit->status != 200) return false;
        const json entries = json::parse(audit->body)["entries"];
        for (const json& entry : entries) {
            if (entry["who"] != "ember" || entry["phase"] != "ended") continue;
            EXPECT_EQ(entry["from"], "127.0.0.1") << entry;
            EXPECT_EQ(entry["via"], here) << entry;
            ran.insert(entry["params"].dump());
        }
        return ran.size() >= passed.size();
    };
    EXPECT_TRUE(WaitUntil(ranAll, kLimit));
    EXPECT_EQ(ran, passed);
    const auto own = Client(here).Get(("/api/audit?unit=" + sim.address).c_str());
    ASSERT_TRUE(own);
    EXPECT_EQ(json::parse(own->body)["entries"], json::array()) << own->body;

    // A set on a unit it drives runs there.
    const Path ownVolume = ParameterPath(0, tree::kVolume);
    const int ownWanted = sims.front()->unit.State().levels[0] == 30 ? 31 : 30;
    held.parameters.erase(ownVolume);
    ASSERT_TRUE(
        consumer.Send(Root{std::vector<Element>{setting(ownVolume, std::int64_t{ownWanted})}}));
    ASSERT_TRUE(ReadUntil(consumer, held, [&] {
        return held.parameters.count(ownVolume) && held.parameters[ownVolume].access;
    }));
    EXPECT_EQ(held.parameters[ownVolume].value, Value(std::int64_t{ownWanted}));
    EXPECT_EQ(sims.front()->unit.State().levels[0], ownWanted);
}

}  // namespace
}  // namespace gateway_cluster_ember_test
}  // namespace vantrel

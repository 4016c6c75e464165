// Which gateway should own each unit: the same answer everywhere, an even spread, and as few
// units moved as can be when a gateway joins or leaves.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "gateway/cluster/rendezvous.h"

namespace vantrel::gateway::cluster {
namespace rendezvous_test {
namespace {

std::vector<std::string> Units(int count) {
    std::vector<std::string> units;
    for (int i = 0; i < count; ++i) {
        units.push_back("127.0." + std::to_string(60 + i / 250) + "." +
                        std::to_string(1 + i % 250));
    }
    return units;
}

std::map<std::string, std::string> Owners(const std::vector<std::string>& members,
                                          const std::vector<std::string>& units) {
    std::map<std::string, std::string> owners;
    for (const std::string& unit : units) owners[unit] = RendezvousOwner(members, unit);
    return owners;
}

const std::vector<std::string> kThree{"http://127.0.0.1:8101", "http://127.0.0.1:8102",
                                      "http://127.0.0.1:8103"};

TEST(RendezvousTest, SixHundredUnitsSpreadEvenlyOverThreeMembersWhateverTheirOrder) {
    const std::vector<std::string> units = Units(600);
    const auto owners = Owners(kThree, units);
    std::map<std::string, int> counts;
    for (const auto& [unit, owner] : owners) ++counts[owner];
    ASSERT_EQ(counts.size(), 3U);
    for (const auto& [member, count] : counts) {
        EXPECT_GT(count, 160) << member;
        EXPECT_LT(count, 240) << member;
    }
    const std::vector<std::string> reversed(kThree.rbegin(), kThree.rend());
    EXPECT_EQ(Owners(reversed, units), owners);
    EXPECT_EQ(RendezvousOwner({}, units.front()), "");
}

TEST(RendezvousTest, AMemberJoiningTakesOnlyItsShareAndOneLeavingMovesOnlyItsOwn) {
    const std::vector<std::string> units = Units(600);
    const auto before = Owners(kThree, units);
    std::vector<std::string> four = kThree;
    four.push_back("http://127.0.0.1:8104");
    const auto joined = Owners(four, units);
    int moved = 0;
    for (const std::string& unit : units) {
        if (joined.at(unit) == before.at(unit)) continue;
        ++moved;
        EXPECT_EQ(joined.at(unit), four.back()) << unit;
    }
    EXPECT_GT(moved, 110);  // about a quarter
    EXPECT_LT(moved, 190);

    const std::vector<std::string> two{kThree[0], kThree[2]};
    const auto left = Owners(two, units);
    for (const std::string& unit : units) {
        if (before.at(unit) != kThree[1]) EXPECT_EQ(left.at(unit), before.at(unit)) << unit;
    }
}

}  // namespace
}  // namespace rendezvous_test
}  // namespace vantrel::gateway::cluster

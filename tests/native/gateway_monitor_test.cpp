// The gateway's hold on one unit's link, over a link in memory with short poll periods and
// pauses: the growing pause between reconnects, and a unit that stops answering while a read
// still waits on it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "gateway/units.h"
#include "tests/support/fake_unit_link.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

// A unit in memory whose link can be refused, lost, or made to hang in a status read.
class ScriptedLink : public testing::FakeUnitLink {
  public:
    struct Script {
        std::atomic<bool> refuse{false};  // Open fails, and so does every read
        std::atomic<int> hangMs{0};       // each status read first waits this long
        std::mutex mutex;
        std::vector<Steady::time_point> opens;
    };
    explicit ScriptedLink(Script& script) : m_script(script) {}

    Outcome Open() override {
        std::lock_guard<std::mutex> lock(m_script.mutex);
        m_script.opens.push_back(Steady::now());
        return Fails() ? Outcome(Failure{Fault::kNotOpened}) : Outcome();
    }
    Result<StatusBlock> ReadStatus() override {
        std::this_thread::sleep_for(milliseconds(m_script.hangMs));
        if (Fails()) return Failure{Fault::kNothingReceived};
        return FakeUnitLink::ReadStatus();
    }

  private:
    bool Fails() const { return m_script.refuse; }
    Script& m_script;
};

// The monitor's events, as the gateway's event stream would get them.
struct Events {
    void Add(const gateway::UnitSnapshot& snapshot) {
        std::lock_guard<std::mutex> lock(mutex);
        links.push_back({snapshot.link, Steady::now()});
    }
    // When the first event with `link` came after `since`, waiting up to `wait` for one; max
    // when none came.
    Steady::time_point First(gateway::LinkState link, Steady::time_point since,
                             milliseconds wait = milliseconds(0)) {
        const auto end = Steady::now() + wait;
        for (auto at = Find(link, since); at == Steady::time_point::max(); at = Find(link, since)) {
            if (Steady::now() > end) return at;
            std::this_thread::sleep_for(milliseconds(5));
        }
        return Find(link, since);
    }
    Steady::time_point Find(gateway::LinkState link, Steady::time_point since) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [state, at] : links) {
            if (state == link && at >= since) return at;
        }
        return Steady::time_point::max();
    }
    std::mutex mutex;
    std::vector<std::pair<gateway::LinkState, Steady::time_point>> links;
};

struct MonitoredUnit {
    explicit MonitoredUnit(milliseconds poll) {
        gateway::MonitorOptions options;
        options.poll = poll;
        options.firstPause = milliseconds(40);
        options.longestPause = milliseconds(160);
        units.Add(std::make_unique<gateway::UnitMonitor>(
            "unit",
            [this](const std::atomic<int32_t>&) { return std::make_unique<ScriptedLink>(script); },
            options, [this](const gateway::UnitSnapshot& s) { events.Add(s); }));
    }
    gateway::LinkState Link() { return units.Find("unit")->Snapshot().link; }
    bool WaitFor(gateway::LinkState link, milliseconds limit) {
        const auto end = Steady::now() + limit;
        while (Link() != link) {
            if (Steady::now() > end) return false;
            std::this_thread::sleep_for(milliseconds(5));
        }
        return true;
    }

    ScriptedLink::Script script;
    Events events;
    gateway::Units units;  // last: its monitor uses the two above
};

TEST(GatewayMonitorTest, TheReconnectPauseDoublesUpToTheLongestAndALossIsCounted) {
    MonitoredUnit unit(milliseconds(50));
    unit.script.refuse = true;
    unit.units.Start();
    std::this_thread::sleep_for(milliseconds(700));  // 40, 80, 160, 160 ... between attempts
    {
        std::lock_guard<std::mutex> lock(unit.script.mutex);
        const std::vector<Steady::time_point>& opens = unit.script.opens;
        ASSERT_GE(opens.size(), 5u);
        const int least[] = {40, 80, 160, 160};
        for (int i = 0; i < 4; ++i) {
            const auto gap = std::chrono::duration_cast<milliseconds>(opens[i + 1] - opens[i]);
            EXPECT_GE(gap.count(), least[i]) << i;
            EXPECT_LT(gap.count(), least[i] + 60) << i;
        }
    }
    EXPECT_EQ(unit.Link(), gateway::LinkState::Down);
    unit.script.refuse = false;
    ASSERT_TRUE(unit.WaitFor(gateway::LinkState::Up, milliseconds(500)));
    EXPECT_EQ(unit.units.Find("unit")->Snapshot().reconnects, 0);  // never up before

    unit.script.refuse = true;
    ASSERT_TRUE(unit.WaitFor(gateway::LinkState::Down, milliseconds(500)));
    unit.script.refuse = false;
    ASSERT_TRUE(unit.WaitFor(gateway::LinkState::Up, milliseconds(500)));
    EXPECT_EQ(unit.units.Find("unit")->Snapshot().reconnects, 1);
}

// The read still waits on the unit when two poll periods have passed: the unit is down by then,
// in its snapshot and as an event, and up again as soon as it answers.
TEST(GatewayMonitorTest, AUnitThatStopsAnsweringIsDownAfterTwoPollsWhileItsReadWaits) {
    MonitoredUnit unit(milliseconds(100));
    unit.units.Start();
    ASSERT_TRUE(unit.WaitFor(gateway::LinkState::Up, milliseconds(500)));
    const auto hung = Steady::now();
    unit.script.hangMs = 1000;
    ASSERT_TRUE(unit.WaitFor(gateway::LinkState::Down, milliseconds(900)));
    const auto down = unit.events.First(gateway::LinkState::Down, hung, milliseconds(900));
    EXPECT_LT(down - hung, milliseconds(900));  // before the read returned
    unit.script.hangMs = 0;
    EXPECT_GT(unit.events.First(gateway::LinkState::Up, hung, milliseconds(1500)), down);
    EXPECT_EQ(unit.Link(), gateway::LinkState::Up);
}

}  // namespace
}  // namespace vantrel

// A unit another gateway may drive: its monitor holds no link and takes no command until told
// to drive it, and lets it go either once its queue has drained or at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

#include "gateway/fleet/unit_monitor.h"
#include "tests/support/fake_unit_link.h"
#include "tests/support/manual_clock.h"
#include "tests/support/running_gateway.h"

namespace vantrel::gateway {
namespace gateway_monitor_standby_test {
namespace {

using std::chrono::seconds;
using testing::WaitUntil;

constexpr std::chrono::milliseconds kLimit{10000};

/// Counts the link's openings and whether it is open now; a press may be held until let go.
class CountingLink : public testing::FakeUnitLink {
  public:
    Outcome Open() override {
        ++opened;
        open = true;
        return {};
    }
    void Close() override { open = false; }
    Outcome Press(const Button&) override {
        std::unique_lock<std::mutex> lock(mutex);
        ++presses;
        pressed.notify_all();
        letGo.wait(lock, [&] { return !held; });
        return {};
    }

    std::atomic<int> opened{0};
    std::atomic<bool> open{false};
    std::mutex mutex;
    std::condition_variable pressed, letGo;
    bool held = false;
};

class MonitorStandbyTest : public ::testing::Test {
  protected:
    MonitorStandbyTest() {
        options.driven = false;
        monitor = std::make_unique<UnitMonitor>(
            "a",
            [this](const std::atomic<int32_t>&) {
                auto made = std::make_unique<CountingLink>();
                link = made.get();
                return made;
            },
            options, nullptr, clock);
        monitor->Start();
    }
    ~MonitorStandbyTest() override { monitor->Stop(); }

    /// A press queued on the unit; the future gets how it ended.
    Queued Press(std::promise<CommandEnd>& ended) {
        return monitor->Submit({[](UnitLink& unit) {
                                    (void)unit.Press(Button{});
                                    return false;
                                },
                                [&ended](CommandEnd end) { ended.set_value(end); },
                                {}});
    }
    bool Up() { return monitor->Snapshot().link == LinkState::Up; }

    MonitorOptions options;
    testing::ManualClock clock;
    CountingLink* link = nullptr;
    std::unique_ptr<UnitMonitor> monitor;
};

TEST_F(MonitorStandbyTest, AMonitorNotDrivenOpensNoLinkAndTakesNoCommandUntilDriven) {
    ASSERT_TRUE(WaitUntil([&] { return monitor->Parked(); }, kLimit));
    std::promise<CommandEnd> ended;
    EXPECT_EQ(Press(ended), Queued::kLinkDown);
    EXPECT_EQ(link->opened, 0);
    EXPECT_EQ(monitor->Snapshot().link, LinkState::Down);

    monitor->Drive();
    ASSERT_TRUE(WaitUntil([&] { return Up(); }, kLimit));
    EXPECT_FALSE(monitor->Parked());
    EXPECT_EQ(link->opened, 1);
}

TEST_F(MonitorStandbyTest, AReleasedUnitRunsWhatWasQueuedThenClosesItsLink) {
    monitor->Drive();
    ASSERT_TRUE(WaitUntil([&] { return Up(); }, kLimit));
    link->held = true;
    std::promise<CommandEnd> first, second, refused;
    ASSERT_EQ(Press(first), Queued::kYes);
    ASSERT_EQ(Press(second), Queued::kYes);
    {
        std::unique_lock<std::mutex> lock(link->mutex);
        link->pressed.wait(lock, [&] { return link->presses == 1; });
    }
    monitor->Release();
    EXPECT_EQ(Press(refused), Queued::kLinkDown);
    EXPECT_FALSE(monitor->Parked());
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->held = false;
    }
    link->letGo.notify_all();
    EXPECT_EQ(first.get_future().get(), CommandEnd::kRan);
    EXPECT_EQ(second.get_future().get(), CommandEnd::kRan);
    ASSERT_TRUE(WaitUntil([&] { return monitor->Parked(); }, kLimit));
    EXPECT_FALSE(link->open);
    EXPECT_EQ(link->presses, 2);
}

TEST_F(MonitorStandbyTest, ADroppedUnitDropsItsQueueAtOnceAndIsDrivenAgainLater) {
    monitor->Drive();
    ASSERT_TRUE(WaitUntil([&] { return Up(); }, kLimit));
    link->held = true;
    std::promise<CommandEnd> running, queued;
    ASSERT_EQ(Press(running), Queued::kYes);
    ASSERT_EQ(Press(queued), Queued::kYes);
    {
        std::unique_lock<std::mutex> lock(link->mutex);
        link->pressed.wait(lock, [&] { return link->presses == 1; });
    }
    monitor->Drop();
    EXPECT_EQ(queued.get_future().get(), CommandEnd::kLinkDown);
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        link->held = false;
    }
    link->letGo.notify_all();
    ASSERT_TRUE(WaitUntil([&] { return monitor->Parked(); }, kLimit));
    EXPECT_FALSE(link->open);
    EXPECT_EQ(link->presses, 1);

    monitor->Drive();
    ASSERT_TRUE(WaitUntil([&] { return Up() && link->open; }, kLimit));
    EXPECT_EQ(link->opened, 2);
}

}  // namespace
}  // namespace gateway_monitor_standby_test
}  // namespace vantrel::gateway

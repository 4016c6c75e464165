// The tool's and the gateway's console link against the simulated unit: the entry's "OK" read
// to its line end, and the link's own stop flag ending an update between packets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "clients/link_factory.h"
#include "firmware/image.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_unit.h"

namespace vantrel {
namespace link_factory_sim_test {
namespace {

using firmware::Phase;
using firmware::Progress;

firmware::Image ImageOf(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 7);
    return firmware::BuildImage(std::move(bytes), firmware::Controller::kMain).Value();
}

clients::Target ConsoleTarget(const std::string& address) {
    return {address, false, testing::AddressValue(address)};
}

// A link whose pauses return at once, each recorded by the clock.
clients::LinkOptions OnFakeClock(testing::FakeClock& clock) {
    clients::LinkOptions options;
    options.clock = &clock;
    return options;
}

// The console's pause for the reply to the status read that confirms the session, the
// loader's start, then the pauses after Ping and Download.
const std::vector<long long> kLoaderPauses{50, 3000, 200, 2000};

// An "OK" and its line end in two segments: the line end belongs to the "OK", not to the
// next reply.
TEST(LinkFactorySimTest, TheEntrysOkIsReadToItsLineEndWhenItComesSplit) {
    sim::Faults faults;
    faults.loader.splitOk = true;
    testing::SimulatedUnit unit("127.0.0.96", faults);
    ASSERT_TRUE(unit.Start()) << unit.console.Error();
    testing::FakeClock clock;
    const std::unique_ptr<UnitLink> link =
        clients::MakeLink(ConsoleTarget(unit.address), OnFakeClock(clock));
    ASSERT_TRUE(link->Open().Ok());
    const firmware::Image image = ImageOf(1000);
    const Outcome updated = link->UpdateMainFirmware(image, {});
    EXPECT_TRUE(updated.Ok()) << FaultName(updated.GetFault());
    EXPECT_EQ(unit.unit.MainFlash(), image.bytes);
    EXPECT_EQ(clock.Pauses(), kLoaderPauses);
}

// The flag the gateway's monitor sets to stop: an update under way ends at the next packet.
TEST(LinkFactorySimTest, TheLinksStopFlagEndsAnUpdateBetweenPackets) {
    testing::SimulatedUnit unit("127.0.0.97");
    ASSERT_TRUE(unit.Start()) << unit.console.Error();
    std::atomic<std::int32_t> stop{0};
    testing::FakeClock clock;
    clients::LinkOptions options = OnFakeClock(clock);
    options.stop = &stop;
    const std::unique_ptr<UnitLink> link = clients::MakeLink(ConsoleTarget(unit.address), options);
    ASSERT_TRUE(link->Open().Ok());
    std::vector<std::int64_t> written;
    const Outcome updated = link->UpdateMainFirmware(ImageOf(2000), [&](const Progress& p) {
        if (p.phase != Phase::kWriting) return;
        written.push_back(p.done);
        if (p.done >= 152) stop = 1;
    });
    EXPECT_EQ(updated.GetFault(), Fault::kStopped);
    EXPECT_EQ(written, (std::vector<std::int64_t>{0, 76, 152}));
    EXPECT_TRUE(unit.unit.MainFlash().empty());
    EXPECT_EQ(clock.Pauses(), kLoaderPauses);
}

}  // namespace
}  // namespace link_factory_sim_test
}  // namespace vantrel

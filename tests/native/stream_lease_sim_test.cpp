// The firmware update through the console while a session runs beside it: with the stream
// lent, the update is its one user however the session and the poll are timed.
#include "link/stream_lease.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "link/firmware_ids.h"
#include "link/firmware_presenter.h"
#include "link/control_ids.h"
#include "link/net_link.h"
#include "link/post_command.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_firmware_view.h"
#include "tests/support/recording_view.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"
#include "unit/tcp_stream.h"

namespace vantrel {
namespace {

// A window-thread wait that really waits, as the panel's does.
class WaitingView : public testing::RecordingView {
  public:
    void WaitForSession(Clock::Duration step) override { std::this_thread::sleep_for(step); }
};

// Connect, and during the login the dialog opens: the lease waits for the login, the poll
// and stored codes go on being posted, and none of them reaches the unit until it is returned.
TEST(FirmwareSimLeaseTest, TheUpdateIsTheStreamsOneUserWhileItIsLent) {
    testing::SimulatedUnit sim("127.0.0.73");
    ASSERT_TRUE(sim.Start()) << sim.console.Error();
    PanelState state;
    WaitingView view;
    view.PresetAddress(kConnectAddress, 0x7F000049);
    TcpStream stream(state.m_bLinkDown.Atomic(), SystemClock::Instance());
    NetLink link(state, view, stream, SystemClock::Instance());
    link.OnConnect();

    std::vector<std::uint8_t> image(3000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
    testing::TempFile file("lease.bin", std::string(image.begin(), image.end()));
    FirmwareRecord record;
    record.stream = &stream;
    record.linkDown = 0;
    record.linkMode = kLinkNetwork;
    record.mainFile = file.Path();
    testing::RecordingFirmwareView firmwareView;
    testing::FakeClock clock;
    // The login is under way (the session holds the stream) when the dialog asks for it.
    for (int i = 0; i < 500 && sim.log.Lines("tcp").empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(sim.log.Lines("tcp").empty());
    {
        StreamLease lease(state, view);
        EXPECT_EQ(state.m_bPollPaused, 1);
        sim.log.Clear();
        std::thread update([&] { BurnMainEthernet(record, clock, firmwareView); });
        for (int i = 0; i < 20; ++i) {
            PostStatusPoll(state);
            state.StoreCommand(22);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        update.join();
        EXPECT_EQ(firmwareView.Text(kMainStatusText), "Firmware Updated!");
        EXPECT_EQ(sim.unit.MainFlash(), image);
        const std::vector<std::string> lines = sim.log.Lines("tcp");  // the loader's aside
        EXPECT_EQ(lines.at(0), "FWUPDATE\r\n");
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "STA1\r\n"), 0);
    }
    EXPECT_EQ(state.m_bPollPaused, 0);
    link.Stop();
}

}  // namespace
}  // namespace vantrel

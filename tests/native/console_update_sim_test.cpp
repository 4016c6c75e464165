// The firmware update through the console while a session runs beside it: the update takes
// the stream on its own thread, waiting for the session's work under way, and is then its one
// user however the session and the poll are timed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "presenters/control_ids.h"
#include "presenters/firmware_ids.h"
#include "presenters/firmware_presenter.h"
#include "presenters/net_link.h"
#include "presenters/post_command.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_firmware_view.h"
#include "tests/support/recording_view.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"
#include "unit/tcp_stream.h"

namespace vantrel {
namespace console_update_sim_test {
namespace {

// A window-thread wait that really waits, as the panel's does.
class WaitingView : public testing::RecordingView {
  public:
    void WaitForSession(Clock::Duration step) override { std::this_thread::sleep_for(step); }
};

// Connect, and during the login (each reply 300 ms late) Burn is pressed: the update waits for
// the login and says so, the poll and stored codes go on being posted, and none of them
// reaches the unit while the update holds the stream.
TEST(FirmwareSimLeaseTest, TheUpdateWaitsForTheSessionAndIsThenTheStreamsOneUser) {
    sim::Faults faults;
    faults.delayMs = 300;
    testing::SimulatedUnit sim("127.0.0.73", faults);
    ASSERT_TRUE(sim.Start()) << sim.console.Error();
    PanelState state;
    testing::RecordingView view;
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
    record.streamUse = &state.m_streamUse;
    record.sessionDown = &state.m_bLinkDown.Atomic();
    testing::RecordingFirmwareView firmwareView;
    std::vector<std::string> lines;  // the unit's traffic as the update ends, lease still held
    firmwareView.onText = [&](int, const std::string& text) {
        if (text == "Firmware Updated!") lines = sim.log.Lines("tcp");
    };
    testing::FakeClock clock;
    // The login is under way (the session holds the stream) when Burn is pressed.
    for (int i = 0; i < 500 && sim.log.Lines("tcp").empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(sim.log.Lines("tcp").empty());
    std::thread update([&] { BurnMainEthernet(record, clock, firmwareView); });
    for (int i = 0; i < 20; ++i) {
        PostStatusPoll(state);
        state.StoreCommand(22);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    update.join();
    EXPECT_EQ(firmwareView.Calls("text 1027").front(), "Waiting for the session ... !");
    EXPECT_EQ(firmwareView.Text(kMainStatusText), "Firmware Updated!");
    EXPECT_EQ(sim.unit.MainFlash(), image);
    const auto update_start = std::find(lines.begin(), lines.end(), "FWUPDATE\r\n");
    ASSERT_NE(update_start, lines.end());
    EXPECT_EQ(std::count(update_start, lines.end(), "STA1\r\n"), 0);
    link.Stop();
}

}  // namespace
}  // namespace console_update_sim_test
}  // namespace vantrel

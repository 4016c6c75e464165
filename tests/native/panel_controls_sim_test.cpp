// The panel's handler bodies on the serial link, through the real POSIX SerialPort and a pty to
// the simulated unit: the serial-use state, the pressed-picture hold, the pictures that follow,
// the message boxes and where they fall between the port's calls. The frames each control sends
// are checked end to end against the real program.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "presenters/control_ids.h"
#include "presenters/panel_controls.h"
#include "presenters/refresh_panel.h"
#include "presenters/serial_use.h"
#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "sim/serial_console.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"
#include "tests/support/recording_serial.h"
#include "tests/support/recording_view.h"
#include "tests/support/serial_unit_test.h"
#include "unit/serial_exchanges.h"

namespace vantrel {
namespace panel_controls_sim_test {
namespace {

using Lines = std::vector<std::string>;
constexpr std::uint32_t kComPort = 23;

// A clock that can hand the port back from the status poll after a few waits.
class PollReleasingClock : public testing::TracingClock {
  public:
    using TracingClock::TracingClock;
    uint8_t* serialState = nullptr;
    int releaseAfter = 0;
    void Sleep(Duration pause) override {
        TracingClock::Sleep(pause);
        if (serialState && --releaseAfter == 0) *serialState = kSerialFree;
    }
};

class PanelControlsSimTest : public testing::SerialUnitTest {
  protected:
    PanelControlsSimTest() : SerialUnitTest(kComPort) {
        state.m_comPorts[0] = kComPort;
        state.m_nComPortCount = 1;
        state.m_nLinkMode = kLinkSerial;
    }
    void Reset() {
        trace.clear();
        view.ClearCalls();
        log.Clear();
    }

    testing::SerialTrace trace;
    SerialPort port{[](const char*) {}};
    testing::RecordingSerial serial{trace, &port};
    PollReleasingClock clock{trace};
    PanelState state;
    testing::RecordingView view;
    std::vector<uint32_t> stored;
    PanelControls controls{
        state,
        view,
        serial,
        clock,
        [this](const char* text) { trace.push_back(std::string("box ") + text); },
        [this](uint32_t address) { stored.push_back(address); }};
};

TEST_F(PanelControlsSimTest, PushButtonWaitsForThePollHoldsItsLookAndFreesThePort) {
    state.m_nSerialState = kSerialPolling;
    clock.serialState = &state.m_nSerialState;
    clock.releaseAfter = 2;
    controls.OnButton(IDC_MUTE);
    EXPECT_EQ(trace, (Lines{"sleep 30", "sleep 30", "open 23 115200", "write 04 53 57 0B", "close",
                            "sleep 300"}));
    EXPECT_EQ(view.Calls(), (Lines{"swap 1053 245", "restore 1053"}));
    EXPECT_EQ(state.m_nSerialState, kSerialFree);
    EXPECT_TRUE(view.SwapsBalanced());

    // An input keeps its pressed picture as its lit look and greys the former input.
    Reset();
    state.m_nInput = state.m_nPrevInput = 0;
    controls.OnButton(IDC_SDI_INPUT);
    EXPECT_EQ(view.Calls(), (Lines{"swap 1044 239", "delete image", "picture 1065 257"}));
    EXPECT_EQ(state.m_nInput, 1);
    EXPECT_EQ(state.m_nPrevInput, 1);
    EXPECT_TRUE(view.SwapsBalanced());
}

TEST_F(PanelControlsSimTest, PortThatDoesNotOpenTellsTheUserAndChangesNothing) {
    state.m_nSerialState = 7;  // left as it was
    for (int32_t selection : {-1, 1, 0}) {
        Reset();
        if (selection == 0) MapComPort(kComPort, "");
        view.comSelection = selection;
        controls.OnButton(IDC_NEXT_2CH);
        controls.OnButton(IDC_MIX_DOWN);
        EXPECT_EQ(view.Calls(), (Lines{"swap 1041 236", "restore 1041"}));
        Lines boxes;
        for (const std::string& line : trace) {
            if (line.rfind("box ", 0) == 0) boxes.push_back(line);
        }
        EXPECT_EQ(boxes, (Lines{"box Open COM fail!", "box Open COM fail!"}));
        EXPECT_EQ(state.m_nSerialState, 7);
        EXPECT_EQ(state.m_lamps[2], 255);
    }
}

// A lamp counts as lit whenever it is not 0: the start value 255 goes out on a click.
TEST_F(PanelControlsSimTest, LampsFollowTheClickAndSoloSidesExcludeEachOther) {
    state.m_lamps[1] = 1;
    controls.OnButton(IDC_SOLO_LEFT);
    EXPECT_EQ(view.Calls(), (Lines{"picture 1038 225"}));
    EXPECT_EQ(state.m_lamps[0], 0);
    EXPECT_EQ(state.m_prevLamps[0], 0);
    controls.OnButton(IDC_SOLO_LEFT);
    EXPECT_EQ(view.Calls(), (Lines{"picture 1038 225", "picture 1038 232", "picture 1039 219"}));
    EXPECT_EQ(state.m_lamps[1], 0);
    EXPECT_EQ(state.m_prevLamps[1], 0);

    // A meter mode already shown does nothing at all.
    Reset();
    state.m_lamps[3] = 0;
    controls.OnButton(IDC_VU_MODE);
    EXPECT_TRUE(trace.empty());
    controls.OnButton(IDC_DPPM_MODE);
    EXPECT_EQ(view.Calls(), (Lines{"picture 1046 222", "picture 1047 242"}));
    EXPECT_EQ(state.m_lamps[3], 1);
}

TEST_F(PanelControlsSimTest, PollDrawsWhatChangedAndNothingTheSecondTime) {
    unit.Update([](sim::UnitState& s) {
        s.soloRight = 1;
        s.input = 2;
    });
    controls.OnTimer(PanelControls::kPollTimer);
    EXPECT_EQ(trace, (Lines{"open 23 115200", "purge", "write 04 53 57 24", "sleep 50", "read 11",
                            "close"}));
    EXPECT_TRUE(view.Called("picture 1039 234"));
    EXPECT_TRUE(view.Called("picture 1067 260"));
    EXPECT_EQ(state.m_nSerialState, kSerialFree);

    // The same state again: no bitmap is loaded and no control is touched.
    Reset();
    controls.OnTimer(PanelControls::kPollTimer);
    EXPECT_EQ(trace.size(), 6u);
    EXPECT_TRUE(view.Calls().empty());

    // No poll while paused, for another timer, or while a command holds the port.
    Reset();
    state.m_nSerialState = kSerialCommand;
    controls.OnTimer(PanelControls::kPollTimer);
    controls.OnTimer(2);
    state.m_nSerialState = kSerialFree;
    state.m_bPollPaused = 1;
    controls.OnTimer(PanelControls::kPollTimer);
    EXPECT_TRUE(trace.empty());
}

TEST_F(PanelControlsSimTest, ReadAgainstASilentUnitFailsWithThePortStillOpen) {
    console.reset();
    StartUnit([] {
        sim::SerialFaults faults;
        faults.silent = true;
        return faults;
    }());
    controls.OnReadNetSettings();
    EXPECT_EQ(trace, (Lines{"open 23 115200", "write 04 87 60 01", "sleep 200", "read 8",
                            "box Fail!", "close"}));
    EXPECT_EQ(view.Calls(), (Lines{"swap 1055 248", "restore 1055"}));

    // Choosing the link with no unit answering keeps the poll paused and says nothing.
    Reset();
    controls.OnSerialLink();
    EXPECT_EQ(state.m_bPollPaused, 1);
    EXPECT_EQ(trace.back(), "close");
    EXPECT_EQ(view.Calls().back(), "cursor arrow");
    for (const std::string& line : trace) EXPECT_NE(line.rfind("box", 0), 0u) << line;
}

TEST_F(PanelControlsSimTest, ReadAndApplyKeepTheAddressFileAsTheyShould) {
    controls.OnSerialLink();  // reads the unit: 127.0.0.2, static
    EXPECT_EQ(state.m_bPollPaused, 0);
    EXPECT_EQ(state.m_nIpMode, kIpModeStatic);
    EXPECT_EQ(stored, (std::vector<uint32_t>{0x7F000002}));
    EXPECT_EQ(trace.back(), "sleep 1500");

    view.PresetAddress(kIpAddress, 0x7F000007);
    view.PresetAddress(kMaskAddress, 0xFFFF0000);
    view.PresetAddress(kGatewayAddress, 0x7F000001);
    Reset();
    controls.OnApplyNetSettings();
    EXPECT_EQ(stored, (std::vector<uint32_t>{0x7F000002, 0x7F000007}));
    EXPECT_EQ(view.Calls().at(1), "address 1036 127.0.0.7");  // before any frame
    EXPECT_EQ(trace.at(trace.size() - 2), "close");
    EXPECT_EQ(trace.back(), "box Finish!");
    EXPECT_EQ(unit.State().ip, 0x7F000007u);

    // With no mode read or chosen there is no mode byte to send: nothing goes out.
    Reset();
    state.m_nIpMode = kIpModeUnknown;
    controls.OnApplyNetSettings();
    EXPECT_EQ(trace, (Lines{"box Choose Static IP or DHCP first!"}));
    EXPECT_TRUE(view.Calls().empty());
}

// Before anything is sent, Apply refuses addresses the unit could not be reached at, on both
// links; Default IP is "Finish!" only once the unit answers an address read afterwards.
TEST_F(PanelControlsSimTest, ApplyRefusesUnreachableAddressesAndDefaultIpNeedsAnAnswer) {
    controls.OnApplyNetSettings();  // nothing read yet, and the radios cannot be used
    EXPECT_EQ(trace, (Lines{"box Read the settings first!"}));

    controls.OnSerialLink();
    view.PresetAddress(kIpAddress, 0);  // an emptied field
    Reset();
    controls.OnApplyNetSettings();
    EXPECT_EQ(trace, (Lines{"box Invalid IP address or mask!"}));
    state.m_nLinkMode = kLinkEthernet;
    state.StoreLinkDown(0);
    view.PresetAddress(kIpAddress, 0x7F000002);
    view.PresetAddress(kMaskAddress, 0xFF00FF00);  // not one run of ones
    Reset();
    controls.OnApplyNetSettings();
    EXPECT_EQ(trace, (Lines{"box Invalid IP address or mask!"}));
    EXPECT_EQ(state.m_nCommand, 0);
    EXPECT_TRUE(log.Entries().empty());

    state.m_nLinkMode = kLinkSerial;
    unit.Update([](sim::UnitState& u) { u.ip = 0x7F000009; });
    Reset();
    stored.clear();
    controls.OnDefaultIp();
    EXPECT_EQ(Lines(trace.begin() + 1, trace.end()),
              (Lines{"write 04 87 60 0B", "purge", "write 04 87 60 02", "sleep 200", "read 6",
                     "close", "box Finish!"}));
    EXPECT_EQ(stored, (std::vector<uint32_t>{0x7F000002}));  // the unit's default IP
    EXPECT_TRUE(view.Called("address 1036 127.0.0.2"));
}

}  // namespace
}  // namespace panel_controls_sim_test
}  // namespace vantrel

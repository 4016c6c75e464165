#include "presenters/net_session.h"

#include "presenters/control_ids.h"
#include "presenters/messages.h"
#include "presenters/refresh_panel.h"
#include "presenters/status_update.h"
#include "unit/console_reply.h"

namespace vantrel {

namespace {

constexpr Clock::Duration kRefreshPause{100};

// A line that could not be sent or a reply that did not come at all: when the exchange that
// a command names as its result fails so, the session ends. Read and Apply say "Fail!" for it;
// a reply that is there but short leaves its field as it was.
bool FailedOnTheLine(Fault fault) {
    return fault == Fault::kNothingReceived || fault == Fault::kSendFailed;
}

}  // namespace

NetSession::NetSession(PanelState& state, PanelView& view, ByteStream& stream, Clock& clock)
    : m_state(state), m_view(view), m_stream(stream), m_clock(clock), m_console(stream, clock) {}

void NetSession::Run() {
    if (!Start()) return;
    if (m_state.m_bLinkDown == 0) {
        do {
            m_state.WaitForWork();
        } while (RunPass());
    }
    End();
}

bool NetSession::Start() {
    std::lock_guard<std::mutex> use(m_state.m_streamUse);
    if (const Outcome connected = m_console.Connect(m_view.GetAddress(kConnectAddress));
        !connected.Ok()) {
        m_state.StoreLinkDown(1);
        ShowLinkDown(m_view, connected.Text());
        return false;
    }
    // The replies to the login are not examined: the unit's answer does not matter.
    m_console.LogIn();
    m_view.SetText(kStatusText, "Login success!");
    if (const Result<MacAddress> mac = m_console.ReadMac(); mac.Ok()) {
        char text[13];
        FormatMac(mac.Value(), text);
        m_view.SetText(kMacText, text);
    }
    m_state.StoreCommand(kSessionStartCode);
    m_state.m_bPollPaused = 0;
    return true;
}

bool NetSession::RunPass() {
    std::lock_guard<std::mutex> use(m_state.m_streamUse);
    const uint8_t code = m_state.m_nCommand;
    bool lineFailed = false;
    if (code != 0) {
        lineFailed = Execute(code);
        // Cleared when finished, not when taken, and only if it is still the code served: one
        // stored meanwhile is served next rather than lost.
        m_state.ClearCommand(code);
        if (m_bRefresh) {
            m_bRefresh = false;
            m_clock.Sleep(kRefreshPause);
            RefreshPanel(m_state, m_view);
        }
    }
    if (lineFailed) m_state.StoreLinkDown(1);
    return m_state.m_bLinkDown == 0;
}

void NetSession::End() {
    std::lock_guard<std::mutex> use(m_state.m_streamUse);
    m_stream.Close();
    ShowLinkDown(m_view, "Disconnect!");
}

bool NetSession::Execute(uint8_t code) {
    const Command& command = CommandFor(code);
    switch (command.kind) {
        case CommandKind::kNone:
            return false;
        case CommandKind::kSend:
            return FailedOnTheLine(m_console.Send(code).GetFault());
        case CommandKind::kLevel:
            return ReadLevel(code, command);
        case CommandKind::kStatus:
            return ReadStatus();
        case CommandKind::kReadSettings:
            return ReadSettingsWithPicture();
        case CommandKind::kApplySettings:
            ApplySettings();
            return false;  // the session ends after an Apply in any case
        case CommandKind::kSessionStart:
            ReadStatus();
            return ReadSettings().modeFailedOnTheLine;
    }
    return false;
}

bool NetSession::ReadStatus() {
    const Result<StatusBlock> status = m_console.ReadStatus();
    if (status.Ok()) {
        ApplyStatusBlock(m_state, status.Value().data());
        m_bRefresh = true;
    }
    return FailedOnTheLine(status.GetFault());
}

bool NetSession::ReadLevel(uint8_t code, const Command& command) {
    const Result<int32_t> level = m_console.StepLevel(code);
    // Whatever came back is shown, digits or not; only a reply that never came changes nothing.
    if (level.GetFault() == Fault::kNothingReceived) return true;
    ApplyLevel(m_state, m_view, command.levelIndex, level.Value());
    return false;
}

NetSession::SettingsRead NetSession::ReadSettings() {
    const Result<NetworkSettings> addresses = m_console.ReadAddresses();
    const NetworkSettings& settings = addresses.Value();
    if (settings.ip) {
        m_view.SetAddress(kIpAddress, *settings.ip);
        m_view.SetAddress(kConnectAddress, *settings.ip);
    }
    if (settings.mask) m_view.SetAddress(kMaskAddress, *settings.mask);
    if (settings.gateway) m_view.SetAddress(kGatewayAddress, *settings.gateway);
    const Result<AddressMode> mode = m_console.ReadMode();
    if (mode.Ok()) ApplyIpMode(m_state, m_view, static_cast<uint8_t>(mode.Value()));
    const bool modeFailed = FailedOnTheLine(mode.GetFault());
    return {modeFailed || FailedOnTheLine(addresses.GetFault()), modeFailed};
}

bool NetSession::ReadSettingsWithPicture() {
    m_shownBmp = m_view.SwapInPicture(kReadPicture, kBmpReadLit);
    const SettingsRead read = ReadSettings();
    // A session told to end tells nobody: a box now would hold up the close.
    if (m_state.m_bLinkDown == 0) {
        m_view.ShowMessage(read.failedOnTheLine ? kFailed : kFinished);
    }
    m_view.RestorePicture(kReadPicture, m_shownBmp);
    return read.modeFailedOnTheLine;
}

void NetSession::ApplySettings() {
    m_shownBmp = m_view.SwapInPicture(kApplyPicture, kBmpApplyLit);
    const Addresses addresses{m_view.GetAddress(kIpAddress), m_view.GetAddress(kMaskAddress),
                              m_view.GetAddress(kGatewayAddress)};
    const Outcome applied =
        m_console.ApplySettings(static_cast<AddressMode>(uint8_t{m_state.m_nIpMode}), addresses);
    const bool toldToEnd = m_state.m_bLinkDown != 0;
    // The unit may take a new address: this session ends after the pass.
    m_state.StoreLinkDown(1);
    if (!toldToEnd) m_view.ShowMessage(applied.Ok() ? kFinished : kFailed);
    m_view.RestorePicture(kApplyPicture, m_shownBmp);
}

}  // namespace vantrel

#include "link/net_session.h"

#include "link/control_ids.h"
#include "link/messages.h"
#include "link/refresh_panel.h"
#include "link/status_update.h"
#include "unit/console_reply.h"

namespace vantrel {

namespace {

constexpr Clock::Duration kRefreshPause{100};

// Read and Apply say "Fail!" only when a line could not be sent or a reply did not come at
// all; a reply that is there but short leaves its field as it was.
bool LinkFailed(Fault fault) {
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
    if (code != 0) {
        Execute(code);
        // Cleared when finished, not when taken, and only if it is still the code served: one
        // stored meanwhile is served next rather than lost.
        m_state.ClearCommand(code);
        if (m_bRefresh) {
            m_bRefresh = false;
            m_clock.Sleep(kRefreshPause);
            RefreshPanel(m_state, m_view);
        }
    }
    if (m_console.LastResult() == -1) m_state.StoreLinkDown(1);
    return m_state.m_bLinkDown == 0;
}

void NetSession::End() {
    std::lock_guard<std::mutex> use(m_state.m_streamUse);
    m_stream.Close();
    ShowLinkDown(m_view, "Disconnect!");
}

void NetSession::Execute(uint8_t code) {
    const Command& command = CommandFor(code);
    switch (command.kind) {
        case CommandKind::kNone:
            break;
        case CommandKind::kSend:
            m_console.Send(code);
            break;
        case CommandKind::kLevel:
            ReadLevel(code, command);
            break;
        case CommandKind::kStatus:
            ReadStatus();
            break;
        case CommandKind::kReadSettings:
            ReadSettingsWithPicture();
            break;
        case CommandKind::kApplySettings:
            ApplySettings();
            break;
        case CommandKind::kSessionStart:
            ReadStatus();
            ReadSettings();
            break;
    }
}

void NetSession::ReadStatus() {
    if (const Result<StatusBlock> status = m_console.ReadStatus(); status.Ok()) {
        ApplyStatusBlock(m_state, status.Value().data());
        m_bRefresh = true;
    }
}

void NetSession::ReadLevel(uint8_t code, const Command& command) {
    const Result<int32_t> level = m_console.StepLevel(code);
    // Whatever came back is shown, digits or not; only a reply that never came changes nothing.
    if (level.GetFault() == Fault::kNothingReceived) return;
    ApplyLevel(m_state, m_view, command.levelIndex, level.Value());
}

Outcome NetSession::ReadSettings() {
    const Result<NetworkSettings> read = m_console.ReadSettings();
    const NetworkSettings& settings = read.Value();
    if (settings.ip) {
        m_view.SetAddress(kIpAddress, *settings.ip);
        m_view.SetAddress(kConnectAddress, *settings.ip);
    }
    if (settings.mask) m_view.SetAddress(kMaskAddress, *settings.mask);
    if (settings.gateway) m_view.SetAddress(kGatewayAddress, *settings.gateway);
    if (settings.mode) ApplyIpMode(m_state, m_view, static_cast<uint8_t>(*settings.mode));
    return read.GetFailure();
}

void NetSession::ReadSettingsWithPicture() {
    m_shownBmp = m_view.SwapInPicture(kReadPicture, kBmpReadLit);
    const bool failed = LinkFailed(ReadSettings().GetFault());
    // A session told to end tells nobody: a box now would hold up the close.
    if (m_state.m_bLinkDown == 0) m_view.ShowMessage(failed ? kFailed : kFinished);
    m_view.RestorePicture(kReadPicture, m_shownBmp);
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

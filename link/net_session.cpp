#include "link/net_session.h"

#include <cstdio>
#include <cstring>

#include "unit/console_reply.h"
#include "link/control_ids.h"
#include "link/status_update.h"

namespace vantrel {

namespace {

constexpr Clock::Duration kReplyPause{50};
constexpr Clock::Duration kSettingPause{100};
constexpr Clock::Duration kRefreshPause{100};

const char kFinished[] = "Finish!";
const char kFailed[] = "Fail!";

}  // namespace

NetSession::NetSession(PanelState& state, PanelView& view, ByteStream& stream, Clock& clock)
    : m_state(state), m_view(view), m_stream(stream), m_clock(clock) {}

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
    char address[16];
    FormatDotted(m_view.GetAddress(kConnectAddress), address);
    if (!m_stream.Connect(address, kConsolePort)) {
        m_state.StoreLinkDown(1);
        m_stream.Close();
        ShowLinkDown(m_view, "Connect to device fail.");
        return false;
    }
    // The replies to the login are not examined: the unit's answer does not matter.
    Receive();
    SendText("admin\r\n");
    Receive();
    SendText("846\r\n");
    Receive();
    m_view.SetText(kStatusText, "Login success!");

    SendText("READMAC\r\n");
    char mac[13];
    if (FormatMac(m_buffer, Receive(), mac)) m_view.SetText(kMacText, mac);

    m_state.StoreCommand(kSessionStartCode);
    m_state.m_bPollPaused = 0;
    return true;
}

bool NetSession::RunPass() {
    const uint8_t code = m_state.m_nCommand;
    if (code != 0) {
        Execute(code);
        // Cleared when finished, not when taken: a code stored meanwhile is overwritten.
        m_state.StoreCommand(0);
        if (m_bRefresh) {
            m_bRefresh = false;
            m_clock.Sleep(kRefreshPause);
            m_view.RefreshPanel();
        }
    }
    if (m_nLastResult == -1) m_state.StoreLinkDown(1);
    return m_state.m_bLinkDown == 0;
}

void NetSession::End() {
    m_stream.Close();
    ShowLinkDown(m_view, "Disconnect!");
}

void NetSession::Execute(uint8_t code) {
    const Command& command = CommandFor(code);
    switch (command.kind) {
        case CommandKind::kNone:
            break;
        case CommandKind::kSend:
            m_nLastResult = SendText(command.text);
            if (command.pauseAfterMs > 0) m_clock.Sleep(Clock::Duration(command.pauseAfterMs));
            break;
        case CommandKind::kLevel:
            ReadLevel(command);
            break;
        case CommandKind::kStatus:
            m_nLastResult = ReadStatus();
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

int NetSession::SendText(const char* text) {
    return m_stream.Send(text, static_cast<int>(std::strlen(text)));
}

int NetSession::Receive() { return m_stream.Receive(m_buffer, kReceiveSize); }

int NetSession::Request(const char* text) {
    const int sent = SendText(text);
    m_clock.Sleep(kReplyPause);
    const int received = Receive();
    return sent == -1 ? -1 : received;
}

int NetSession::ReadStatus() {
    const int received = Request(CommandFor(kStatusPollCode).text);
    if (received >= kStatusBlockSize) {
        ApplyStatusBlock(m_state, m_buffer);
        m_bRefresh = true;
    }
    return received;
}

void NetSession::ReadLevel(const Command& command) {
    SendText(command.text);
    m_clock.Sleep(kReplyPause);
    SendText(command.readText);
    m_nLastResult = Receive();
    if (m_nLastResult == -1) return;
    ApplyLevel(m_state, m_view, command.levelIndex, ParseLevelReply(m_buffer, m_nLastResult));
}

bool NetSession::ReadSettings() {
    uint32_t address = 0;
    bool failed = false;
    int received = Request("READIP\r\n");
    failed |= received <= 0;
    if (AddressFromReply(m_buffer, received, address)) {
        m_view.SetAddress(kIpAddress, address);
        m_view.SetAddress(kConnectAddress, address);
    }
    received = Request("READMASK\r\n");
    failed |= received <= 0;
    if (AddressFromReply(m_buffer, received, address)) m_view.SetAddress(kMaskAddress, address);
    received = Request("READGATEWAY\r\n");
    failed |= received <= 0;
    if (AddressFromReply(m_buffer, received, address)) m_view.SetAddress(kGatewayAddress, address);
    m_nLastResult = Request("IPMODE\r\n");
    if (m_nLastResult < 1) return false;
    if (m_buffer[0] == 'S') ApplyIpMode(m_state, m_view, kIpModeStatic);
    if (m_buffer[0] == 'D') ApplyIpMode(m_state, m_view, kIpModeDhcp);
    return !failed;
}

void NetSession::ReadSettingsWithPicture() {
    m_shownBmp = m_view.SwapInPicture(kReadPicture, kBmpReadLit);
    const bool read = ReadSettings();
    // A session told to end (Disconnect, RS232, the window closing) tells nobody: a box now
    // would hold up the close until someone dismissed it.
    if (m_state.m_bLinkDown == 0) m_view.ShowMessage(read ? kFinished : kFailed);
    m_view.RestorePicture(kReadPicture, m_shownBmp);
}

int NetSession::SendSetting(const char* name, int control) {
    char dotted[16];
    FormatDotted(m_view.GetAddress(control), dotted);
    char line[26];  // the longest: "GATEWAY=255.255.255.255\r\n"
    std::snprintf(line, sizeof line, "%s%s\r\n", name, dotted);
    return SendText(line);
}

void NetSession::ApplySettings() {
    m_shownBmp = m_view.SwapInPicture(kApplyPicture, kBmpApplyLit);
    bool failed = false;
    if (m_state.m_nIpMode == kIpModeStatic) failed |= SendText("SETIPMODE=S\r\n") == -1;
    if (m_state.m_nIpMode == kIpModeDhcp) failed |= SendText("SETIPMODE=D\r\n") == -1;
    m_clock.Sleep(kReplyPause);
    failed |= SendSetting("MASK=", kMaskAddress) == -1;
    m_clock.Sleep(kSettingPause);
    failed |= SendSetting("GATEWAY=", kGatewayAddress) == -1;
    m_clock.Sleep(kSettingPause);
    m_nLastResult = SendSetting("IP=", kIpAddress);
    failed |= m_nLastResult == -1;
    m_clock.Sleep(kSettingPause);
    const bool toldToEnd = m_state.m_bLinkDown != 0;
    // The unit may take a new address: this session ends after the pass.
    m_state.StoreLinkDown(1);
    if (!toldToEnd) m_view.ShowMessage(failed ? kFailed : kFinished);
    m_view.RestorePicture(kApplyPicture, m_shownBmp);
}

}  // namespace vantrel

// The network settings (Read, Apply, Default IP, the address mode) and the choice of link.
#include <cstdio>

#include "link/control_ids.h"
#include "link/panel_controls.h"
#include "link/post_command.h"
#include "unit/serial_exchanges.h"
#include "link/status_update.h"

namespace vantrel {

namespace {

constexpr uint8_t kReadCode = 23;
constexpr uint8_t kApplyCode = 24;
constexpr uint8_t kDefaultIpCode = 26;
constexpr Clock::Duration kEthernetChoicePause{2000};
constexpr Clock::Duration kSerialChoicePause{1500};

const char kFinished[] = "Finish!";
const char kFailed[] = "Fail!";
// Apply on the serial link with no address mode read or chosen: there is no mode byte to send,
// and guessing one could switch the unit's addressing behind the user's back.
const char kNoModeChosen[] = "Choose Static IP or DHCP first!";

// Shows each reply of a serial network read as it passes its check.
class SettingsListener : public NetworkReadListener {
  public:
    /// fullRead: the settings read of Read and of the link choice, which also keeps the IP in
    /// the address file and enables the fields when no mode is known; otherwise Apply's
    /// read-back, which only shows the addresses.
    SettingsListener(PanelState& state, PanelView& view, const AddressStore& store, bool fullRead)
        : m_state(state), m_view(view), m_store(store), m_bFullRead(fullRead) {}

    void OnMac(const MacAddress& mac) override {
        char text[13];
        std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3],
                      mac[4], mac[5]);
        m_view.SetText(kMacText, text);
    }
    void OnAddress(AddressKind kind, uint32_t address) override {
        switch (kind) {
            case AddressKind::Ip:
                m_view.SetAddress(kIpAddress, address);
                m_view.SetAddress(kConnectAddress, address);
                if (m_bFullRead) m_store(address);
                break;
            case AddressKind::Mask:
                m_view.SetAddress(kMaskAddress, address);
                break;
            case AddressKind::Gateway:
                m_view.SetAddress(kGatewayAddress, address);
                if (m_bFullRead && m_state.m_nIpMode == kIpModeUnknown) {
                    for (int control :
                         {kIpAddress, kMaskAddress, kGatewayAddress, kStaticIpRadio, kDhcpRadio}) {
                        m_view.EnableControl(control, true);
                    }
                }
                break;
        }
    }
    void OnMode(uint8_t mode) override {
        if (mode == kModeStatic) ApplyIpMode(m_state, m_view, kIpModeStatic);
        if (mode == kModeDhcp) ApplyIpMode(m_state, m_view, kIpModeDhcp);
    }

  private:
    PanelState& m_state;
    PanelView& m_view;
    const AddressStore& m_store;
    const bool m_bFullRead;
};

}  // namespace

void PanelControls::EnableAddressFields(bool enable) {
    for (int control : {kIpAddress, kMaskAddress, kGatewayAddress}) {
        m_view.EnableControl(control, enable);
    }
}

void PanelControls::OnEthernetLink() {
    for (int control :
         {kStatusText, kDisconnectPicture, kConnectPicture, kMacText, kConnectAddress}) {
        m_view.ShowControl(control, true);
    }
    m_view.ShowControl(kComPortList, false);
    EnableAddressFields(false);
    m_view.EnableControl(kStaticIpRadio, false);
    m_view.EnableControl(kDhcpRadio, false);
    m_view.SetText(kLinkCaption, "IP");
    m_state.m_nLinkMode = kLinkEthernet;
    m_state.m_nSerialState = kSerialFree;
    m_view.ShowWaitCursor(true);
    m_state.m_bPollPaused = 1;
    m_clock.Sleep(kEthernetChoicePause);
    m_state.m_bPollPaused = 0;
    m_view.ShowWaitCursor(false);
}

void PanelControls::OnSerialLink() {
    m_state.StoreLinkDown(1);  // a running session ends at the end of its pass
    for (int control : {kStatusText, kDisconnectPicture, kConnectPicture}) {
        m_view.ShowControl(control, false);
    }
    m_view.ShowControl(kMacText, true);
    m_view.ShowControl(kConnectAddress, false);
    m_view.ShowControl(kComPortList, true);
    m_view.SetText(kLinkCaption, "PORT");
    m_view.SetText(kStatusText, "");
    if (m_state.m_nIpMode == kIpModeStatic) EnableAddressFields(true);
    if (m_state.m_nIpMode != kIpModeUnknown) {
        m_view.EnableControl(kStaticIpRadio, true);
        m_view.EnableControl(kDhcpRadio, true);
    }
    m_state.m_nLinkMode = kLinkSerial;
    m_state.m_nSerialState = kSerialFree;
    m_view.ShowWaitCursor(true);
    m_state.m_bPollPaused = 1;
    // The poll stays paused when the port does not open or the unit does not answer: nothing
    // would come of it until the user chooses again.
    if (OpenSelectedPort()) {
        SettingsListener listener(m_state, m_view, m_storeAddress, true);
        const bool read =
            RunNetworkRead(m_serial, m_clock, NetworkReadVariant::LinkChoice, listener);
        m_serial.Close();
        if (read) {
            m_clock.Sleep(kSerialChoicePause);
            m_state.m_bPollPaused = 0;
        }
    }
    m_view.ShowWaitCursor(false);
}

void PanelControls::OnStaticIp() {
    m_state.m_nIpMode = kIpModeStatic;
    EnableAddressFields(true);
}

void PanelControls::OnDhcp() {
    m_state.m_nIpMode = kIpModeDhcp;
    EnableAddressFields(false);
}

void PanelControls::OnReadNetSettings() {
    if (m_state.m_nLinkMode == kLinkEthernet) {
        PostCommand(m_state, kReadCode, m_view);  // the session shows the pressed look itself
        return;
    }
    RunNetworkCommand(kReadPicture, kBmpReadLit, &PanelControls::ReadSettings);
}

void PanelControls::OnApplyNetSettings() {
    if (m_state.m_nLinkMode == kLinkEthernet) {
        PostCommand(m_state, kApplyCode, m_view);
        return;
    }
    if (m_state.m_nIpMode == kIpModeUnknown) {
        m_report(kNoModeChosen);
        return;
    }
    RunNetworkCommand(kApplyPicture, kBmpApplyLit, &PanelControls::ApplySettings);
}

void PanelControls::OnDefaultIp() {
    if (m_state.m_nLinkMode == kLinkEthernet) {
        PostCommand(m_state, kDefaultIpCode, m_view);
        return;
    }
    RunNetworkCommand(kDefaultIpPicture, kBmpDefaultIpLit, &PanelControls::RestoreDefaultIp);
}

void PanelControls::RunNetworkCommand(int picture, int pressedBitmap,
                                      void (PanelControls::*exchange)()) {
    PressPicture(picture, pressedBitmap);
    if (!OpenForCommand()) {
        ReleasePicture(picture);
        return;
    }
    // Still marked while "Finish!" or "Fail!" is shown, so the poll stays off the port.
    m_state.m_nSerialState = kSerialCommand;
    (this->*exchange)();
    ReleasePicture(picture);
    m_state.m_nSerialState = kSerialFree;
}

// "Fail!" is shown while the port is still open, "Finish!" after it is closed.
void PanelControls::ReadSettings() {
    SettingsListener listener(m_state, m_view, m_storeAddress, true);
    if (RunNetworkRead(m_serial, m_clock, NetworkReadVariant::ReadButton, listener)) {
        m_serial.Close();
        m_report(kFinished);
    } else {
        m_report(kFailed);
        m_serial.Close();
    }
}

void PanelControls::ApplySettings() {
    std::optional<StaticAddresses> addresses;
    if (m_state.m_nIpMode == kIpModeStatic) {
        const uint32_t ip = m_view.GetAddress(kIpAddress);
        m_view.SetAddress(kConnectAddress, ip);
        m_storeAddress(ip);
        addresses = StaticAddresses{ip, m_view.GetAddress(kMaskAddress),
                                    m_view.GetAddress(kGatewayAddress)};
    }
    const uint8_t mode = m_state.m_nIpMode == kIpModeStatic ? kModeStatic : kModeDhcp;
    SettingsListener listener(m_state, m_view, m_storeAddress, false);
    if (RunNetworkWrite(m_serial, m_clock, addresses, mode, listener)) {
        m_serial.Close();
        m_report(kFinished);
    } else {
        m_report(kFailed);
        m_serial.Close();
    }
}

void PanelControls::RestoreDefaultIp() {
    RunPlainCommand(m_serial, BuildFrame(SerialUnit::Net, net_cmd::kDefaultIp));
    m_report(kFinished);
}

}  // namespace vantrel

// The network settings (Read, Apply, Default IP, the address mode) and the choice of link.
#include "presenters/control_ids.h"
#include "presenters/messages.h"
#include "presenters/panel_controls.h"
#include "presenters/post_command.h"
#include "presenters/serial_use.h"
#include "presenters/status_update.h"
#include "unit/address_rules.h"
#include "unit/console_reply.h"
#include "unit/serial_exchanges.h"

namespace vantrel {

namespace {

constexpr uint8_t kReadCode = 23;
constexpr uint8_t kApplyCode = 24;
constexpr uint8_t kDefaultIpCode = 26;
constexpr Clock::Duration kEthernetChoicePause{2000};
constexpr Clock::Duration kSerialChoicePause{1500};

// Apply on the serial link with no address mode read or chosen: there is no mode byte to send,
// and guessing one could switch the unit's addressing behind the user's back.
const char kNoModeChosen[] = "Choose Static IP or DHCP first!";
// The same, when the radios cannot be used yet: only a read of the unit's settings enables
// them.
const char kReadFirst[] = "Read the settings first!";
// Apply would give the unit addresses it could not be reached at.
const char kInvalidAddresses[] = "Invalid IP address or mask!";

}  // namespace

void PanelControls::ShowSettings(const NetworkSettings& settings, bool fullRead) {
    if (settings.mac) {
        char text[13];
        FormatMac(*settings.mac, text);
        m_view.SetText(kMacText, text);
    }
    if (settings.ip) {
        m_view.SetAddress(kIpAddress, *settings.ip);
        m_view.SetAddress(kConnectAddress, *settings.ip);
        if (fullRead) m_storeAddress(*settings.ip);
    }
    if (settings.mask) m_view.SetAddress(kMaskAddress, *settings.mask);
    if (settings.gateway) {
        m_view.SetAddress(kGatewayAddress, *settings.gateway);
        if (fullRead && m_state.m_nIpMode == kIpModeUnknown) {
            for (int control :
                 {kIpAddress, kMaskAddress, kGatewayAddress, kStaticIpRadio, kDhcpRadio}) {
                m_view.EnableControl(control, true);
            }
            m_bRadiosEnabled = true;
        }
    }
    if (settings.mode) ApplyIpMode(m_state, m_view, static_cast<uint8_t>(*settings.mode));
}

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
    m_bRadiosEnabled = false;
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
        m_bRadiosEnabled = true;
    }
    m_state.m_nLinkMode = kLinkSerial;
    m_state.m_nSerialState = kSerialFree;
    m_view.ShowWaitCursor(true);
    m_state.m_bPollPaused = 1;
    // The poll stays paused when the port does not open or the unit does not answer: nothing
    // would come of it until the user chooses again.
    if (OpenSelectedPort()) {
        const Result<NetworkSettings> read =
            RunNetworkRead(m_serial, m_clock, NetworkReadVariant::LinkChoice);
        ShowSettings(read.Value(), true);
        m_serial.Close();
        if (read.Ok()) {
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

bool PanelControls::AddressesReachable() {
    const Addresses addresses{m_view.GetAddress(kIpAddress), m_view.GetAddress(kMaskAddress),
                              m_view.GetAddress(kGatewayAddress)};
    if (ReachableAddresses(addresses)) return true;
    m_report(kInvalidAddresses);
    return false;
}

void PanelControls::OnApplyNetSettings() {
    if (m_state.m_nLinkMode == kLinkEthernet) {
        // The console's Apply lines carry all three fields in either mode.
        if (AddressesReachable()) PostCommand(m_state, kApplyCode, m_view);
        return;
    }
    if (m_state.m_nIpMode == kIpModeUnknown) {
        m_report(m_bRadiosEnabled ? kNoModeChosen : kReadFirst);
        return;
    }
    if (m_state.m_nIpMode == kIpModeStatic && !AddressesReachable()) return;
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
void PanelControls::Conclude(bool done) {
    if (done) {
        m_serial.Close();
        m_report(kFinished);
    } else {
        m_report(kFailed);
        m_serial.Close();
    }
}

void PanelControls::ReadSettings() {
    const Result<NetworkSettings> read =
        RunNetworkRead(m_serial, m_clock, NetworkReadVariant::ReadButton);
    ShowSettings(read.Value(), true);
    Conclude(read.Ok());
}

void PanelControls::ApplySettings() {
    std::optional<Addresses> addresses;
    if (m_state.m_nIpMode == kIpModeStatic) {
        const uint32_t ip = m_view.GetAddress(kIpAddress);
        m_view.SetAddress(kConnectAddress, ip);
        m_storeAddress(ip);
        addresses =
            Addresses{ip, m_view.GetAddress(kMaskAddress), m_view.GetAddress(kGatewayAddress)};
    }
    const AddressMode mode =
        m_state.m_nIpMode == kIpModeStatic ? AddressMode::Static : AddressMode::Dhcp;
    const Result<NetworkSettings> written = RunNetworkWrite(m_serial, m_clock, addresses, mode);
    ShowSettings(written.Value(), false);
    Conclude(written.Ok());
}

// "Finish!" only when the frame went out and the unit answers an address read afterwards; the
// address it answers is then shown and kept, as Read does.
void PanelControls::RestoreDefaultIp() {
    NetworkSettings settings;
    if (RunDefaultIp(m_serial).Ok()) {
        if (const Result<std::uint32_t> ip = RunAddressRead(m_serial, m_clock); ip.Ok()) {
            settings.ip = ip.Value();
        }
    }
    ShowSettings(settings, true);
    Conclude(settings.ip.has_value());
}

}  // namespace vantrel

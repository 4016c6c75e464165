#pragma once

#include <cstdint>
#include <functional>

#include "presenters/control_table.h"
#include "presenters/panel_state.h"
#include "presenters/panel_view.h"
#include "serial/serial_device.h"
#include "unit/clock.h"
#include "unit/unit_values.h"

namespace vantrel {

/// Shows a message box owned by the panel (empty caption, OK) and returns when it is closed.
using MessageReporter = std::function<void(const char* text)>;
/// Keeps the unit's IP address in the address file.
using AddressStore = std::function<void(uint32_t address)>;

/// The bodies of the panel's click and timer handlers, over the panel's state and view, its
/// serial port and a clock, so they run the same in the window and in tests. Everything here
/// runs on the window's thread. On the Ethernet link a handler hands a command code to the
/// network session; on the RS232 link it runs the serial exchange itself, blocking the thread.
class PanelControls {
  public:
    PanelControls(PanelState& state, PanelView& view, SerialDevice& serial, Clock& clock,
                  MessageReporter report, AddressStore storeAddress);

    /// A click on one of the pictured buttons of the control table.
    void OnButton(int control);
    /// A WM_TIMER: the status poll, for timer 1 only.
    void OnTimer(uintptr_t timer);

    // The network settings and the choice of link.
    void OnEthernetLink();
    void OnSerialLink();
    void OnStaticIp();
    void OnDhcp();
    void OnReadNetSettings();
    void OnApplyNetSettings();
    void OnDefaultIp();

    /// The pressed look of a picture while its handler runs: the image it showed is kept in
    /// the one pressed-picture slot until ReleasePicture puts it back.
    void PressPicture(int control, int bitmap);
    void ReleasePicture(int control);

    static constexpr uintptr_t kPollTimer = 1;
    static constexpr Clock::Duration kPressedHold{300};

  private:
    void OnPushButton(const ControlButton& button);
    void OnLampButton(const ControlButton& button);
    /// The command of a button on the serial link, on a port that is open.
    void RunButtonExchange(const ControlButton& button);
    void LightInput(const ControlButton& button);
    void FlipLamp(const ControlButton& button);
    void ShowMeterMode(uint8_t mode);

    /// A command exchange's start: waits while the status poll holds the port, then opens the
    /// selected port. False when it does not open; the caller tells the user.
    bool OpenForCommand();
    bool OpenSelectedPort();
    /// Read, Apply and Default IP on the serial link, between the pressed and normal look.
    void RunNetworkCommand(int picture, int pressedBitmap, void (PanelControls::*exchange)());
    void ReadSettings();
    void ApplySettings();
    void RestoreDefaultIp();
    void EnableAddressFields(bool enable);
    /// Shows what a serial network read brought. fullRead: the read of Read and of the link
    /// choice, which also keeps the IP in the address file and enables the fields when no mode
    /// is known; otherwise Apply's read-back, which only shows the addresses.
    void ShowSettings(const NetworkSettings& settings, bool fullRead);
    /// Ends a serial network command with "Finish!" or "Fail!".
    void Conclude(bool done);
    /// Whether the address fields hold addresses the unit could be reached at; tells the user
    /// when they do not.
    bool AddressesReachable();

    PanelState& m_state;
    PanelView& m_view;
    SerialDevice& m_serial;
    Clock& m_clock;
    MessageReporter m_report;
    AddressStore m_storeAddress;
    ImageHandle m_hShownBmp = ImageHandle::kNone;
    bool m_bRadiosEnabled = false;  // Static IP and DHCP can be chosen (the template disables them)
};

}  // namespace vantrel

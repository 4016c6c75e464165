// A unit on a serial port, driven through the panel's own handlers and exchanges.
#include <atomic>
#include <cstdlib>

#include "cli/progress_view.h"
#include "cli/unit_link.h"
#include "cli/unit_view.h"
#include "firmware/burn_main_serial.h"
#include "firmware/burn_net_serial.h"
#include "firmware/hold_break.h"
#include "link/control_ids.h"
#include "link/panel_controls.h"
#include "unit/serial_exchanges.h"
#include "serial/com_ports.h"
#include "serial/serial_port.h"

namespace vantrel::cli {

namespace {

const ControlButton& LevelButton(int index, bool up) {
    constexpr int kButtons[4][2] = {{IDC_VOLUME_DOWN, IDC_VOLUME_UP},
                                    {IDC_BRIGHTNESS_DOWN, IDC_BRIGHTNESS_UP},
                                    {IDC_CONTRAST_DOWN, IDC_CONTRAST_UP},
                                    {IDC_SATURATION_DOWN, IDC_SATURATION_UP}};
    return *FindControlButton(kButtons[index][up ? 1 : 0]);
}

// The number under which the port is opened: COMn's own on Windows; natively a number that
// stands for the device path (as a pty stands for a COM port in the tests).
int32_t PortNumber(const std::string& port) {
#ifdef _WIN32
    if (port.size() < 4 || (port.compare(0, 3, "COM") != 0 && port.compare(0, 3, "com") != 0)) {
        return -1;
    }
    char* end = nullptr;
    const long number = std::strtol(port.c_str() + 3, &end, 10);
    return *end == '\0' && number > 0 && number <= 255 ? static_cast<int32_t>(number) : -1;
#else
    static std::atomic<uint32_t> next{200};
    const uint32_t number = next++;
    if (number > 255) return -1;
    MapComPort(number, port);
    return static_cast<int32_t>(number);
#endif
}

class SerialLink : public UnitLink {
  public:
    explicit SerialLink(const std::string& port) : m_portNumber(PortNumber(port)) {
        m_state.m_nLinkMode = kLinkSerial;
        m_state.m_comPorts[0] = m_portNumber;
        m_state.m_nComPortCount = m_portNumber > 0 ? 1 : 0;
    }

    Outcome Open() override {
        if (m_portNumber <= 0) return Outcome::Failed("not a serial port name");
        return {};
    }

    Outcome ReadStatus(UnitStatus& status) override {
        const int refreshes = m_view.Refreshes();
        m_controls.OnTimer(PanelControls::kPollTimer);
        if (m_view.Refreshes() == refreshes) return Outcome::Failed("the unit sent no status");
        m_controls.OnReadNetSettings();
        if (Outcome read = m_view.TakeConfirmation(); !read.ok) return read;
        if (OpenSelectedPort(m_port, m_state.m_comPorts, 1, 0)) {
            const FirmwareVersions versions = RunVersionRead(m_port, SystemClock::Instance());
            status.mainVersion = versions.main;
            status.netVersion = versions.net;
        }
        m_view.FillStatus(status);
        return {};
    }

    Outcome Press(const ControlButton& button) override {
        m_controls.OnButton(button.control);
        return NoMessage();
    }

    Outcome StepLevel(int index, bool up, int32_t& level) override {
        m_controls.OnButton(LevelButton(index, up).control);
        level = m_state.m_levels[index];
        return NoMessage();
    }

    bool CanSetLevel(int index) const override { return index > 0; }

    Outcome SetLevel(int index, uint8_t value) override {
        if (!OpenSelectedPort(m_port, m_state.m_comPorts, 1, 0)) {
            return Outcome::Failed("Open COM fail!");
        }
        RunLevelSet(m_port, SystemClock::Instance(), static_cast<LcdLevel>(index), value);
        return {};
    }

    Outcome ApplyNetwork(const NetworkSettings& settings) override {
        m_state.m_nIpMode = settings.dhcp ? kIpModeDhcp : kIpModeStatic;
        m_view.SetAddress(kIpAddress, settings.ip);
        m_view.SetAddress(kMaskAddress, settings.mask);
        m_view.SetAddress(kGatewayAddress, settings.gateway);
        m_controls.OnApplyNetSettings();
        return m_view.TakeConfirmation();
    }

    Outcome RestoreDefaultIp() override {
        m_controls.OnDefaultIp();
        return m_view.TakeConfirmation();
    }

    Outcome UpdateMainFirmware(const std::string& path, const ProgressReport& progress) override {
        firmware::FirmwareRecord record;
        record.comPort = m_portNumber;
        record.mainImage.path = path;
        ProgressView view(progress);
        SerialPort port([](const char*) {});
        firmware::BurnMainSerial(record, port, SystemClock::Instance(), view);
        if (view.Status() == kFirmwareUpdated) return {};
        return Outcome::Failed(view.Status());
    }

    Outcome UpdateNetFirmware(const std::string& path, const ProgressReport& progress,
                              const std::function<void(const std::string&)>& powerCycle) override {
        firmware::FirmwareRecord record;
        record.comPort = m_portNumber;
        record.netImage.path = path;
        ProgressView view(progress);
        SerialPort port([](const char*) {});
        firmware::Break(record, port, view);
        if (!port.IsOpen()) return Outcome::Failed(view.Status());
        powerCycle(view.Status());
        record.netStop = 0;
        firmware::BurnNetSerial(record, port, SystemClock::Instance(), view);
        if (view.Status() == kFirmwareUpdated) return {};
        return Outcome::Failed(view.Status());
    }

    void Close() override { m_port.Close(); }

  private:
    Outcome NoMessage() {
        for (const std::string& message : m_view.TakeMessages()) return Outcome::Failed(message);
        return {};
    }

    const int32_t m_portNumber;
    PanelState m_state;
    UnitView m_view{m_state};
    SerialPort m_port{[](const char*) {}};
    PanelControls m_controls{m_state,
                             m_view,
                             m_port,
                             SystemClock::Instance(),
                             [this](const char* text) { m_view.ShowMessage(text); },
                             [](uint32_t) {}};
};

}  // namespace

std::unique_ptr<UnitLink> MakeSerialLink(const std::string& port) {
    return std::make_unique<SerialLink>(port);
}

}  // namespace vantrel::cli

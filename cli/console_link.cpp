// A unit on its TCP console, driven through the panel's own network session.
#include "cli/dotted_address.h"
#include "cli/progress_view.h"
#include "cli/unit_link.h"
#include "cli/unit_view.h"
#include "firmware/burn_main_ethernet.h"
#include "link/control_ids.h"
#include "link/net_session.h"
#include "link/panel_state.h"
#include "unit/tcp_stream.h"

namespace vantrel::cli {

namespace {

constexpr uint8_t kStatusCode = 22;
constexpr uint8_t kApplyCode = 24;
constexpr uint8_t kDefaultIpCode = 26;
constexpr uint8_t kLevelCodes[4][2] = {{10, 9}, {15, 16}, {17, 18}, {19, 20}};  // down, up

class ConsoleLink : public UnitLink {
  public:
    explicit ConsoleLink(const std::string& address) : m_address(address) {}
    ~ConsoleLink() override { Close(); }

    Outcome Open() override {
        uint32_t address = 0;
        if (!ParseDotted(m_address, address)) return Outcome::Failed("not an IPv4 address");
        m_view.SetAddress(kConnectAddress, address);
        m_state.StoreLinkDown(0);
        if (!m_session.Start()) return Outcome::Failed(m_view.Text(kStatusText));
        return RunCode(m_state.m_nCommand);  // the session's own first reads
    }

    Outcome ReadStatus(UnitStatus& status) override {
        const int refreshes = m_view.Refreshes();
        if (Outcome run = RunCode(kStatusCode); !run.ok) return run;
        if (m_view.Refreshes() == refreshes) return Outcome::Failed("the unit sent no status");
        m_view.FillStatus(status);
        return {};
    }

    Outcome Press(const ControlButton& button) override {
        if (button.code == 0) return Outcome::Failed("no such command on the console");
        return RunCode(button.code);
    }

    Outcome StepLevel(int index, bool up, int32_t& level) override {
        Outcome run = RunCode(kLevelCodes[index][up ? 1 : 0]);
        level = m_state.m_levels[index];
        return run;
    }

    bool CanSetLevel(int) const override { return false; }
    Outcome SetLevel(int, uint8_t) override { return Outcome::Failed("the console has no set"); }

    Outcome ApplyNetwork(const NetworkSettings& settings) override {
        m_state.m_nIpMode = settings.dhcp ? kIpModeDhcp : kIpModeStatic;
        m_view.SetAddress(kIpAddress, settings.ip);
        m_view.SetAddress(kMaskAddress, settings.mask);
        m_view.SetAddress(kGatewayAddress, settings.gateway);
        m_view.TakeMessages();
        RunCode(kApplyCode);  // ends the session: the unit may take another address
        return m_view.TakeConfirmation();
    }

    Outcome RestoreDefaultIp() override { return RunCode(kDefaultIpCode); }

    Outcome UpdateMainFirmware(const std::string& path, const ProgressReport& progress) override {
        firmware::FirmwareRecord record;
        record.stream = &m_stream;
        record.linkDown = m_state.m_bLinkDown;
        record.linkMode = firmware::kLinkNetwork;
        record.mainImage.path = path;
        ProgressView view(progress);
        firmware::BurnMainEthernet(record, SystemClock::Instance(), view);
        if (view.Status() == kFirmwareUpdated) return {};
        return Outcome::Failed(view.Status());
    }

    Outcome UpdateNetFirmware(const std::string&, const ProgressReport&,
                              const std::function<void(const std::string&)>&) override {
        return Outcome::Failed("the net controller is updated over a serial port (--port)");
    }

    void Close() override {
        if (m_state.m_bLinkDown != 0) return;
        m_state.StoreLinkDown(1);
        m_stream.Close();
    }

  private:
    // One command of the session, carried out now; a link that broke on it is a failure.
    Outcome RunCode(uint8_t code) {
        if (m_state.m_bLinkDown != 0) return Outcome::Failed("not connected");
        m_state.StoreCommand(code);
        m_session.RunPass();
        if (m_state.m_bLinkDown != 0 && code != kApplyCode) {
            m_stream.Close();
            return Outcome::Failed("the unit stopped answering");
        }
        return {};
    }

    const std::string m_address;
    PanelState m_state;
    UnitView m_view{m_state};
    TcpStream m_stream{m_state.m_bLinkDown.Atomic(), SystemClock::Instance()};
    NetSession m_session{m_state, m_view, m_stream, SystemClock::Instance()};
};

}  // namespace

std::unique_ptr<UnitLink> MakeConsoleLink(const std::string& address) {
    return std::make_unique<ConsoleLink>(address);
}

}  // namespace vantrel::cli

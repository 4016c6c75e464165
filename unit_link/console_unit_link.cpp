#include "unit_link/console_unit_link.h"

#include "firmware/stream_loader_link.h"
#include "firmware/update_procedures.h"
#include "unit/command_table.h"
#include "unit_link/unit_checks.h"

namespace vantrel {
namespace {

// What the console does not carry: the versions, a level set, the net controller's update.
constexpr Failure kNotOnConsole{Fault::kNotOpened};

// A unit that has just taken new settings may take a moment to listen again.
constexpr Clock::Duration kSettlePause{1000};
constexpr int kReconnectRounds = 2;

}  // namespace

ConsoleUnitLink::ConsoleUnitLink(std::uint32_t address, std::unique_ptr<ByteStream> stream,
                                 Clock& clock, const firmware::StopFlag& stop)
    : m_address(address),
      m_stream(std::move(stream)),
      m_clock(clock),
      m_stop(stop),
      m_exchanges(*m_stream, clock) {}

ConsoleUnitLink::~ConsoleUnitLink() { Close(); }

Outcome ConsoleUnitLink::ConnectTo(std::uint32_t address) {
    if (Outcome connected = m_exchanges.Connect(address); !connected.Ok()) return connected;
    Outcome session = m_exchanges.LogIn();
    if (session.Ok()) session = ConfirmSession();
    if (!session.Ok()) {
        m_stream->Close();
        return session;
    }
    m_address = address;
    return {};
}

// The login's replies say nothing this side can rely on, and a unit that refused it takes the
// next line as a user name and answers with a prompt. So the session counts as open only once
// a status read brings a status block: 9 bytes whose fourth, the volume, is 0 to 40, where a
// prompt has a letter.
Outcome ConsoleUnitLink::ConfirmSession() {
    const Result<StatusBlock> status = m_exchanges.ReadStatus();
    if (status.GetFault() == Fault::kNothingReceived) return status.GetFailure();
    if (!status.Ok() || status.Value()[status_byte::kVolume] > RangeOf(Level::Volume).highest) {
        return Failure{Fault::kLoginRefused};
    }
    return {};
}

Outcome ConsoleUnitLink::Open() { return ConnectTo(m_address); }

void ConsoleUnitLink::Close() { m_stream->Close(); }

Result<StatusBlock> ConsoleUnitLink::ReadStatus() { return m_exchanges.ReadStatus(); }

Result<NetworkSettings> ConsoleUnitLink::ReadNetwork() {
    Result<MacAddress> mac = m_exchanges.ReadMac();
    // A unit that does not answer at all is not asked four more times, 3 s each.
    if (mac.GetFault() == Fault::kNothingReceived) return mac.GetFailure();
    Result<NetworkSettings> settings = m_exchanges.ReadSettings();
    if (mac.Ok()) settings.Value().mac = mac.Value();
    if (!mac.Ok() && settings.Ok()) return {mac.GetFailure(), settings.Value()};
    return settings;
}

Result<FirmwareVersions> ConsoleUnitLink::ReadVersions() { return kNotOnConsole; }

Outcome ConsoleUnitLink::Press(const Button& button) { return m_exchanges.Send(button.code); }

Result<std::int32_t> ConsoleUnitLink::StepLevel(Level level, StepDirection direction) {
    return m_exchanges.StepLevel(LevelButton(level, direction).code);
}

Outcome ConsoleUnitLink::SetLevel(Level, std::uint8_t) { return kNotOnConsole; }

Outcome ConsoleUnitLink::WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) {
    // The console's Apply always writes all three addresses; zeros would wipe the unit's.
    if (!addresses) return Failure{Fault::kSendFailed};
    return m_exchanges.ApplySettings(mode, *addresses);
}

// After Apply the unit may listen at its new address, so that is tried first; then where it
// was, for a unit that kept its address (DHCP, or one that did not take the change: its
// read-back then says so). Nothing else is guessed: a DHCP unit that moved is not found.
Outcome ConsoleUnitLink::Reconnect(std::optional<std::uint32_t> movedTo) {
    const std::uint32_t was = m_address;
    m_stream->Close();
    Outcome last;
    for (int round = 0; round < kReconnectRounds; ++round) {
        if (round > 0) m_clock.Sleep(kSettlePause);
        if (movedTo && *movedTo != was) {
            last = ConnectTo(*movedTo);
            if (last.Ok()) return last;
        }
        last = ConnectTo(was);
        if (last.Ok()) return last;
    }
    return last;
}

Outcome ConsoleUnitLink::SendDefaultIp() { return m_exchanges.Send(kDefaultIpCode); }

Result<std::uint32_t> ConsoleUnitLink::ReadAddress() {
    Result<NetworkSettings> settings = m_exchanges.ReadSettings();
    if (!settings.Value().ip) {
        return settings.Ok() ? Failure{Fault::kBadReply} : settings.GetFailure();
    }
    return *settings.Value().ip;
}

Outcome ConsoleUnitLink::UpdateMainFirmware(const firmware::Image& image,
                                            const firmware::ProgressSink& progress) {
    firmware::StreamLoaderLink loader(*m_stream, m_clock);
    return firmware::UpdateMain(loader, m_clock, image, progress, m_stop);
}

Outcome ConsoleUnitLink::HoldBreak() { return kNotOnConsole; }

Outcome ConsoleUnitLink::UpdateNetFirmware(const firmware::Image&, const firmware::ProgressSink&) {
    return kNotOnConsole;
}

}  // namespace vantrel

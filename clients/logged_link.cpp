#include "clients/logged_link.h"

namespace vantrel::clients {

LoggedLink::LoggedLink(std::unique_ptr<TrafficRecorder> recorder, std::shared_ptr<void> transport,
                       std::unique_ptr<UnitLink> link)
    : m_recorder(std::move(recorder)), m_transport(std::move(transport)), m_link(std::move(link)) {}

Outcome LoggedLink::Open() { return Logged("open", m_link->Open()); }

void LoggedLink::Close() {
    m_link->Close();
    m_recorder->EndExchange("close", FaultName(Fault::kNone));
}

Result<StatusBlock> LoggedLink::ReadStatus() { return Logged("status", m_link->ReadStatus()); }

Result<NetworkSettings> LoggedLink::ReadNetwork() {
    return Logged("network read", m_link->ReadNetwork());
}

bool LoggedLink::ReadsVersions() const { return m_link->ReadsVersions(); }

Result<FirmwareVersions> LoggedLink::ReadVersions() {
    return Logged("versions", m_link->ReadVersions());
}

Outcome LoggedLink::Press(const Button& button) {
    return Logged(button.name, m_link->Press(button));
}

Result<std::int32_t> LoggedLink::StepLevel(Level level, StepDirection direction) {
    return Logged(direction == StepDirection::Up ? "level up" : "level down",
                  m_link->StepLevel(level, direction));
}

bool LoggedLink::CanSetLevel(Level level) const { return m_link->CanSetLevel(level); }

Outcome LoggedLink::SetLevel(Level level, std::uint8_t value) {
    return Logged("level set", m_link->SetLevel(level, value));
}

bool LoggedLink::ModeCarriesAddresses() const { return m_link->ModeCarriesAddresses(); }

Outcome LoggedLink::WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) {
    return Logged("network write", m_link->WriteNetwork(mode, addresses));
}

Outcome LoggedLink::Reconnect(std::optional<std::uint32_t> movedTo) {
    return Logged("reconnect", m_link->Reconnect(movedTo));
}

Outcome LoggedLink::SendDefaultIp() { return Logged("default ip", m_link->SendDefaultIp()); }

Result<std::uint32_t> LoggedLink::ReadAddress() {
    return Logged("address read", m_link->ReadAddress());
}

Outcome LoggedLink::UpdateMainFirmware(const firmware::Image& image,
                                       const firmware::ProgressSink& progress) {
    return Logged("firmware main", m_link->UpdateMainFirmware(image, progress));
}

Outcome LoggedLink::HoldBreak() { return Logged("break", m_link->HoldBreak()); }

Outcome LoggedLink::UpdateNetFirmware(const firmware::Image& image,
                                      const firmware::ProgressSink& progress) {
    return Logged("firmware net", m_link->UpdateNetFirmware(image, progress));
}

}  // namespace vantrel::clients

#include "unit_link/forwarding_unit_link.h"

namespace vantrel {

Outcome ForwardingUnitLink::Open() { return Heard("open", m_inner.Open()); }

void ForwardingUnitLink::Close() { m_inner.Close(); }

Result<StatusBlock> ForwardingUnitLink::ReadStatus() {
    return Heard("status", m_inner.ReadStatus());
}

Result<NetworkSettings> ForwardingUnitLink::ReadNetwork() {
    return Heard("network read", m_inner.ReadNetwork());
}

bool ForwardingUnitLink::ReadsVersions() const { return m_inner.ReadsVersions(); }

Result<FirmwareVersions> ForwardingUnitLink::ReadVersions() {
    return Heard("versions", m_inner.ReadVersions());
}

Outcome ForwardingUnitLink::Press(const Button& button) {
    return Heard(button.name, m_inner.Press(button));
}

Result<std::int32_t> ForwardingUnitLink::StepLevel(Level level, StepDirection direction) {
    return Heard(direction == StepDirection::Up ? "level up" : "level down",
                 m_inner.StepLevel(level, direction));
}

bool ForwardingUnitLink::CanSetLevel(Level level) const { return m_inner.CanSetLevel(level); }

Outcome ForwardingUnitLink::SetLevel(Level level, std::uint8_t value) {
    return Heard("level set", m_inner.SetLevel(level, value));
}

bool ForwardingUnitLink::ModeCarriesAddresses() const { return m_inner.ModeCarriesAddresses(); }

Outcome ForwardingUnitLink::WriteNetwork(AddressMode mode,
                                         const std::optional<Addresses>& addresses) {
    return Heard("network write", m_inner.WriteNetwork(mode, addresses));
}

Outcome ForwardingUnitLink::Reconnect(std::optional<std::uint32_t> movedTo) {
    return Heard("reconnect", m_inner.Reconnect(movedTo));
}

Outcome ForwardingUnitLink::SendDefaultIp() { return Heard("default ip", m_inner.SendDefaultIp()); }

Result<std::uint32_t> ForwardingUnitLink::ReadAddress() {
    return Heard("address read", m_inner.ReadAddress());
}

Outcome ForwardingUnitLink::UpdateMainFirmware(const firmware::Image& image,
                                               const firmware::ProgressSink& progress) {
    return Heard("firmware main", m_inner.UpdateMainFirmware(image, progress));
}

Outcome ForwardingUnitLink::HoldBreak() { return Heard("break", m_inner.HoldBreak()); }

Outcome ForwardingUnitLink::UpdateNetFirmware(const firmware::Image& image,
                                              const firmware::ProgressSink& progress) {
    return Heard("firmware net", m_inner.UpdateNetFirmware(image, progress));
}

}  // namespace vantrel

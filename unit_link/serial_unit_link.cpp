#include "unit_link/serial_unit_link.h"

#include "firmware/loader_port.h"
#include "firmware/serial_loader_link.h"
#include "firmware/update_procedures.h"
#include "unit/serial_exchanges.h"

namespace vantrel {
namespace {

constexpr Failure kNotOpened{Fault::kNotOpened};

}  // namespace

SerialUnitLink::SerialUnitLink(std::int32_t comPort, std::unique_ptr<SerialDevice> device,
                               Clock& clock, const firmware::StopFlag& stop)
    : m_comPort(comPort), m_device(std::move(device)), m_clock(clock), m_stop(stop) {}

SerialUnitLink::~SerialUnitLink() { Close(); }

bool SerialUnitLink::OpenPort() { return OpenSelectedPort(*m_device, &m_comPort, 1, 0); }

Outcome SerialUnitLink::Open() {
    if (m_comPort <= 0) return kNotOpened;
    return {};
}

void SerialUnitLink::Close() { m_device->Close(); }

Result<StatusBlock> SerialUnitLink::ReadStatus() {
    if (!OpenPort()) return kNotOpened;
    return RunStatusRead(*m_device, m_clock);
}

Result<NetworkSettings> SerialUnitLink::ReadNetwork() {
    if (!OpenPort()) return kNotOpened;
    Result<NetworkSettings> settings =
        RunNetworkRead(*m_device, m_clock, NetworkReadVariant::ReadButton);
    m_device->Close();
    return settings;
}

Result<FirmwareVersions> SerialUnitLink::ReadVersions() {
    if (!OpenPort()) return kNotOpened;
    return RunVersionRead(*m_device, m_clock);
}

Outcome SerialUnitLink::Press(const Button& button) {
    if (!OpenPort()) return kNotOpened;
    if (button.effect == ButtonEffect::FactoryReset) return RunFactoryReset(*m_device, m_clock);
    return RunPlainCommand(*m_device, BuildFrame(SerialUnit::Main, button.frame));
}

Result<std::int32_t> SerialUnitLink::StepLevel(Level level, StepDirection direction) {
    if (!OpenPort()) return kNotOpened;
    if (level == Level::Volume) {
        Result<std::uint8_t> volume = RunVolumeStep(*m_device, m_clock, direction);
        if (!volume.Ok()) return volume.GetFailure();
        return volume.Value();
    }
    // The LCD step reads the level and sets it 5 away; what the unit took is read afterwards.
    if (Result<LevelStep> step = RunLevelStep(*m_device, m_clock, level, direction); !step.Ok()) {
        return step.GetFailure();
    }
    Result<StatusBlock> status = ReadStatus();
    if (!status.Ok()) return status.GetFailure();
    return status.Value()[StatusByteOf(level)];
}

Outcome SerialUnitLink::SetLevel(Level level, std::uint8_t value) {
    if (!OpenPort()) return kNotOpened;
    return RunLevelSet(*m_device, m_clock, level, value);
}

Outcome SerialUnitLink::WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) {
    if (!OpenPort()) return kNotOpened;
    Result<NetworkSettings> written = RunNetworkWrite(*m_device, m_clock, addresses, mode);
    m_device->Close();
    return written.GetFailure();
}

Outcome SerialUnitLink::SendDefaultIp() {
    if (!OpenPort()) return kNotOpened;
    Outcome sent = RunDefaultIp(*m_device);
    if (!sent.Ok()) m_device->Close();
    return sent;
}

Result<std::uint32_t> SerialUnitLink::ReadAddress() {
    // Default IP leaves the port open for this read.
    if (!m_device->IsOpen() && !OpenPort()) return kNotOpened;
    Result<std::uint32_t> address = RunAddressRead(*m_device, m_clock);
    m_device->Close();
    return address;
}

bool SerialUnitLink::OpenLoader(std::uint32_t baudRate) {
    if (m_device->IsOpen()) m_device->Close();  // the line held in break, for the net update
    if (firmware::OpenLoaderPort(*m_device, m_comPort > 0 ? m_comPort : -1, baudRate)) return true;
    m_device->Close();
    return false;
}

Outcome SerialUnitLink::UpdateMainFirmware(const firmware::Image& image,
                                           const firmware::ProgressSink& progress) {
    if (!OpenLoader(firmware::kMainLoaderBaud)) return kNotOpened;
    firmware::SerialLoaderLink loader(*m_device);
    const Outcome outcome = firmware::UpdateMain(loader, m_clock, image, progress, m_stop);
    m_device->Close();
    return outcome;
}

Outcome SerialUnitLink::HoldBreak() {
    if (!OpenLoader(firmware::kNetLoaderBaud)) return kNotOpened;
    firmware::HoldLineInBreak(*m_device);
    return {};
}

Outcome SerialUnitLink::UpdateNetFirmware(const firmware::Image& image,
                                          const firmware::ProgressSink& progress) {
    if (!OpenLoader(firmware::kNetLoaderBaud)) return kNotOpened;
    const Outcome outcome = firmware::UpdateNet(*m_device, m_clock, image, progress, m_stop);
    m_device->Close();
    return outcome;
}

}  // namespace vantrel

#include "unit/serial_unit_link.h"

#include "firmware/burn_main_serial.h"
#include "firmware/burn_net_serial.h"
#include "firmware/hold_break.h"
#include "unit/progress_report.h"
#include "unit/serial_exchanges.h"

namespace vantrel {
namespace {

constexpr Failure kNotOpened{Fault::kNotOpened};

}  // namespace

SerialUnitLink::SerialUnitLink(std::int32_t comPort, std::unique_ptr<SerialDevice> device,
                               Clock& clock)
    : m_comPort(comPort), m_device(std::move(device)), m_clock(clock) {
    m_record.comPort = comPort > 0 ? comPort : -1;
}

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

Outcome SerialUnitLink::UpdateMainFirmware(const std::string& path,
                                           const FirmwareProgress& progress) {
    m_record.mainImage.path = path;
    ProgressReport view(progress, m_record.mainImage);
    return firmware::BurnMainSerial(m_record, *m_device, m_clock, view);
}

Outcome SerialUnitLink::HoldBreak() {
    ProgressReport view({}, m_record.netImage);
    return firmware::Break(m_record, *m_device, view);
}

Outcome SerialUnitLink::UpdateNetFirmware(const std::string& path,
                                          const FirmwareProgress& progress) {
    m_record.netImage.path = path;
    m_record.netStop = 0;
    ProgressReport view(progress, m_record.netImage);
    return firmware::BurnNetSerial(m_record, *m_device, m_clock, view);
}

}  // namespace vantrel

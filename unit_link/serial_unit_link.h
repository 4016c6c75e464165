#pragma once

#include <cstdint>
#include <memory>

#include "serial/serial_device.h"
#include "unit/clock.h"
#include "unit_link/unit_link.h"

namespace vantrel {

/// A unit on a serial port, over a device the caller made: a SerialPort, or one that wraps
/// it. Every exchange opens the port with the panel's line settings and closes it again, as
/// the panel's controls do, so nothing holds the port between commands.
class SerialUnitLink : public UnitLink {
  public:
    /// `comPort`: the number the device opens (COMn; natively a number MapComPort gave a
    /// device); 0 or less when the name given was none.
    /// `stop`: ends an update between frames once set.
    SerialUnitLink(std::int32_t comPort, std::unique_ptr<SerialDevice> device, Clock& clock,
                   const firmware::StopFlag& stop);
    ~SerialUnitLink() override;

    Outcome Open() override;
    void Close() override;
    Result<StatusBlock> ReadStatus() override;
    Result<NetworkSettings> ReadNetwork() override;
    bool ReadsVersions() const override { return true; }
    Result<FirmwareVersions> ReadVersions() override;
    Outcome Press(const Button& button) override;
    Result<std::int32_t> StepLevel(Level level, StepDirection direction) override;
    bool CanSetLevel(Level level) const override { return level != Level::Volume; }
    Outcome SetLevel(Level level, std::uint8_t value) override;
    bool ModeCarriesAddresses() const override { return false; }
    Outcome WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) override;
    Outcome Reconnect(std::optional<std::uint32_t>) override { return {}; }
    Outcome SendDefaultIp() override;
    Result<std::uint32_t> ReadAddress() override;
    Outcome UpdateMainFirmware(const firmware::Image& image,
                               const firmware::ProgressSink& progress) override;
    Outcome HoldBreak() override;
    Outcome UpdateNetFirmware(const firmware::Image& image,
                              const firmware::ProgressSink& progress) override;

  private:
    bool OpenPort();
    /// Opens the port for a loader, closing it first where Break held it.
    bool OpenLoader(std::uint32_t baudRate);

    const std::int32_t m_comPort;
    std::unique_ptr<SerialDevice> m_device;
    Clock& m_clock;
    const firmware::StopFlag& m_stop;
};

}  // namespace vantrel

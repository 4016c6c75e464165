#pragma once

#include <cstdint>
#include <memory>

#include "unit/byte_stream.h"
#include "unit/clock.h"
#include "unit/console_exchanges.h"
#include "unit_link/unit_link.h"

namespace vantrel {

/// A unit on its TCP console (port 23), over a stream the caller made: a TcpStream with its
/// time limits, or one that wraps it (a log of the traffic, say).
class ConsoleUnitLink : public UnitLink {
  public:
    /// `address`: the unit's, first octet in the top byte. `stop`: the flag that ends the
    /// stream's waits, which also ends an update between packets.
    ConsoleUnitLink(std::uint32_t address, std::unique_ptr<ByteStream> stream, Clock& clock,
                    const firmware::StopFlag& stop);
    ~ConsoleUnitLink() override;

    Outcome Open() override;
    void Close() override;
    Result<StatusBlock> ReadStatus() override;
    Result<NetworkSettings> ReadNetwork() override;
    bool ReadsVersions() const override { return false; }
    Result<FirmwareVersions> ReadVersions() override;
    Outcome Press(const Button& button) override;
    Result<std::int32_t> StepLevel(Level level, StepDirection direction) override;
    bool CanSetLevel(Level) const override { return false; }
    Outcome SetLevel(Level level, std::uint8_t value) override;
    bool ModeCarriesAddresses() const override { return true; }
    Outcome WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) override;
    Outcome Reconnect(std::optional<std::uint32_t> movedTo) override;
    Outcome SendDefaultIp() override;
    Result<std::uint32_t> ReadAddress() override;
    Outcome UpdateMainFirmware(const firmware::Image& image,
                               const firmware::ProgressSink& progress) override;
    Outcome HoldBreak() override;
    Outcome UpdateNetFirmware(const firmware::Image& image,
                              const firmware::ProgressSink& progress) override;

    /// Where the unit was last reached.
    std::uint32_t Address() const { return m_address; }

  private:
    /// Connects, logs in and confirms the session: until then nothing else is sent.
    Outcome ConnectTo(std::uint32_t address);
    Outcome ConfirmSession();

    std::uint32_t m_address;
    std::unique_ptr<ByteStream> m_stream;
    Clock& m_clock;
    const firmware::StopFlag& m_stop;
    ConsoleExchanges m_exchanges;
};

}  // namespace vantrel

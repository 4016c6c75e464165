#pragma once

#include <memory>

#include "unit/traffic_recorder.h"
#include "unit_link/unit_link.h"

namespace vantrel::clients {

/// A unit's link whose every call is one line of the exchange log: the bytes its transport
/// moved meanwhile (recorded below it) and the call's outcome. Owns the recorder, the link and
/// the transport the link runs over, in the order they must go.
class LoggedLink : public UnitLink {
  public:
    /// `transport`: what the recording transport under `link` passes its calls to.
    LoggedLink(std::unique_ptr<TrafficRecorder> recorder, std::shared_ptr<void> transport,
               std::unique_ptr<UnitLink> link);

    Outcome Open() override;
    void Close() override;
    Result<StatusBlock> ReadStatus() override;
    Result<NetworkSettings> ReadNetwork() override;
    bool ReadsVersions() const override;
    Result<FirmwareVersions> ReadVersions() override;
    Outcome Press(const Button& button) override;
    Result<std::int32_t> StepLevel(Level level, StepDirection direction) override;
    bool CanSetLevel(Level level) const override;
    Outcome SetLevel(Level level, std::uint8_t value) override;
    bool ModeCarriesAddresses() const override;
    Outcome WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) override;
    Outcome Reconnect(std::optional<std::uint32_t> movedTo) override;
    Outcome SendDefaultIp() override;
    Result<std::uint32_t> ReadAddress() override;
    Outcome UpdateMainFirmware(const firmware::Image& image,
                               const firmware::ProgressSink& progress) override;
    Outcome HoldBreak() override;
    Outcome UpdateNetFirmware(const firmware::Image& image,
                              const firmware::ProgressSink& progress) override;

  private:
    template <typename T>
    Result<T> Logged(const char* name, Result<T> result) {
        m_recorder->EndExchange(name, FaultName(result.GetFault()));
        return result;
    }

    std::unique_ptr<TrafficRecorder> m_recorder;
    std::shared_ptr<void> m_transport;
    std::unique_ptr<UnitLink> m_link;  // goes first: it uses the two above
};

}  // namespace vantrel::clients

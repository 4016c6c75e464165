#pragma once

#include "unit_link/unit_link.h"

namespace vantrel {

/// A link that passes every call on to another and hears how each exchange ended: the base of
/// the links that watch one (a log of it, a note that the unit answered) without changing it.
class ForwardingUnitLink : public UnitLink {
  public:
    /// `inner` outlives this link.
    explicit ForwardingUnitLink(UnitLink& inner) : m_inner(inner) {}

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

  protected:
    /// After each exchange with the unit (every call but Close and the questions about what
    /// the link can do): its name, "status" or a button's name, and how it ended.
    virtual void Exchanged(const char* name, Fault fault) = 0;

  private:
    template <typename T>
    Result<T> Heard(const char* name, Result<T> result) {
        Exchanged(name, result.GetFault());
        return result;
    }

    UnitLink& m_inner;
};

}  // namespace vantrel

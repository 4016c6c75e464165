#pragma once

#include <functional>
#include <optional>

#include "unit_link/unit_link.h"

namespace vantrel::gateway {

/// A unit's link lent to a command: every exchange the unit answers calls `answered`, so that a
/// unit busy with a long command counts as answering although no poll runs meanwhile. It also
/// keeps the status the command read after the last thing it sent, which the monitor then need
/// not read again.
class AnswerNotingLink : public UnitLink {
  public:
    AnswerNotingLink(UnitLink& link, std::function<void()> answered)
        : m_link(link), m_answered(std::move(answered)) {}

    /// The status the command read last, unless it sent anything after: what the unit holds.
    const std::optional<StatusBlock>& StatusNow() const { return m_status; }

    Outcome Open() override { return Sent(m_link.Open()); }
    void Close() override {
        m_status.reset();
        m_link.Close();
    }
    Result<StatusBlock> ReadStatus() override {
        Result<StatusBlock> status = Sent(m_link.ReadStatus());
        if (status.Ok()) m_status = status.Value();
        return status;
    }
    Result<NetworkSettings> ReadNetwork() override { return Noted(m_link.ReadNetwork()); }
    bool ReadsVersions() const override { return m_link.ReadsVersions(); }
    Result<FirmwareVersions> ReadVersions() override { return Noted(m_link.ReadVersions()); }
    Outcome Press(const Button& button) override { return Sent(m_link.Press(button)); }
    Result<std::int32_t> StepLevel(Level level, StepDirection direction) override {
        return Sent(m_link.StepLevel(level, direction));
    }
    bool CanSetLevel(Level level) const override { return m_link.CanSetLevel(level); }
    Outcome SetLevel(Level level, std::uint8_t value) override {
        return Sent(m_link.SetLevel(level, value));
    }
    bool ModeCarriesAddresses() const override { return m_link.ModeCarriesAddresses(); }
    Outcome WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) override {
        return Sent(m_link.WriteNetwork(mode, addresses));
    }
    Outcome Reconnect(std::optional<std::uint32_t> movedTo) override {
        return Sent(m_link.Reconnect(movedTo));
    }
    Outcome SendDefaultIp() override { return Sent(m_link.SendDefaultIp()); }
    Result<std::uint32_t> ReadAddress() override { return Noted(m_link.ReadAddress()); }
    // The updates note their own progress as the unit answers it.
    Outcome UpdateMainFirmware(const firmware::Image& image,
                               const firmware::ProgressSink& progress) override {
        return Sent(m_link.UpdateMainFirmware(image, progress));
    }
    Outcome HoldBreak() override { return Sent(m_link.HoldBreak()); }
    Outcome UpdateNetFirmware(const firmware::Image& image,
                              const firmware::ProgressSink& progress) override {
        return Sent(m_link.UpdateNetFirmware(image, progress));
    }

  private:
    template <typename T>
    Result<T> Noted(Result<T> result) {
        if (result.Ok()) m_answered();
        return result;
    }
    // What may change the unit's status, and a status read that failed: any status kept is
    // no longer what the unit holds.
    template <typename T>
    Result<T> Sent(Result<T> result) {
        m_status.reset();
        return Noted(std::move(result));
    }

    UnitLink& m_link;
    const std::function<void()> m_answered;
    std::optional<StatusBlock> m_status;
};

}  // namespace vantrel::gateway

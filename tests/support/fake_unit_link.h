#pragma once

#include <algorithm>
#include <optional>
#include <vector>

#include "unit_link/unit_checks.h"
#include "unit_link/unit_link.h"

namespace vantrel::testing {

/// A unit in memory behind the link interface, for the tests of what runs over a link. It
/// reports `status` and `network`, takes what is written, and counts what it was sent. A test
/// that needs more (a refusal, a hang) overrides the calls it scripts.
class FakeUnitLink : public UnitLink {
  public:
    /// What a level step does at the ends of the range: the console clamps, the serial link
    /// refuses a step that would leave it, and a stuck unit never moves.
    enum class Stepping { Clamp, Refuse, Stuck };

    Outcome Open() override { return {}; }
    void Close() override {}
    Result<StatusBlock> ReadStatus() override {
        if (silent) return Failure{Fault::kNothingReceived};
        return status;
    }
    Result<NetworkSettings> ReadNetwork() override {
        if (silent) return Failure{Fault::kNothingReceived};
        return network;
    }
    bool ReadsVersions() const override { return false; }
    Result<FirmwareVersions> ReadVersions() override { return FirmwareVersions{}; }
    Outcome Press(const Button&) override {
        ++presses;
        return {};
    }
    Result<std::int32_t> StepLevel(Level level, StepDirection direction) override {
        std::uint8_t& value = status[StatusByteOf(level)];
        const LevelRange range = RangeOf(level);
        const int sent = value + (direction == StepDirection::Up ? range.step : -range.step);
        const bool inRange = sent >= 0 && sent <= range.highest;
        if (stepping == Stepping::Clamp || (stepping == Stepping::Refuse && inRange)) {
            value = static_cast<std::uint8_t>(std::clamp(sent, 0, static_cast<int>(range.highest)));
        }
        ++steps;
        return value;
    }
    bool CanSetLevel(Level) const override { return false; }
    Outcome SetLevel(Level, std::uint8_t) override { return Failure{Fault::kNotOpened}; }
    bool ModeCarriesAddresses() const override { return true; }
    Outcome WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) override {
        written.push_back(addresses);
        if (ignoresWrites) return {};
        network.mode = mode;
        if (addresses) {
            network.ip = addresses->ip;
            network.mask = addresses->mask;
            network.gateway = addresses->gateway;
        }
        return {};
    }
    Outcome Reconnect(std::optional<std::uint32_t>) override { return {}; }
    Outcome SendDefaultIp() override { return {}; }
    Result<std::uint32_t> ReadAddress() override { return *network.ip; }
    Outcome UpdateMainFirmware(const firmware::Image&, const firmware::ProgressSink&) override {
        return {};
    }
    Outcome HoldBreak() override { return {}; }
    Outcome UpdateNetFirmware(const firmware::Image&, const firmware::ProgressSink&) override {
        return {};
    }

    StatusBlock status{0, 0, 0, 20, 0, 128, 128, 128, 0};
    NetworkSettings network{std::nullopt, 0x7F000002, 0xFFFFFF00, 0x7F000001, AddressMode::Static};
    Stepping stepping = Stepping::Clamp;
    bool silent = false;         // every read fails: the unit does not answer
    bool ignoresWrites = false;  // a network write is taken but changes nothing
    int steps = 0;
    int presses = 0;
    std::vector<std::optional<Addresses>> written;
};

}  // namespace vantrel::testing

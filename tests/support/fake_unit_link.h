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

    Outcome Open() override {
        return Then([] { return Outcome(); });
    }
    void Close() override {}
    Result<StatusBlock> ReadStatus() override {
        return Then([&]() -> Result<StatusBlock> {
            if (silent) return Failure{Fault::kNothingReceived};
            return status;
        });
    }
    Result<NetworkSettings> ReadNetwork() override {
        return Then([&]() -> Result<NetworkSettings> {
            if (silent) return Failure{Fault::kNothingReceived};
            return network;
        });
    }
    bool ReadsVersions() const override { return false; }
    Result<FirmwareVersions> ReadVersions() override {
        return Then([] { return Result<FirmwareVersions>(FirmwareVersions{}); });
    }
    Outcome Press(const Button&) override {
        return Then([&] {
            ++presses;
            return Outcome();
        });
    }
    Result<std::int32_t> StepLevel(Level level, StepDirection direction) override {
        return Then([&] {
            ++steps;
            return Result<std::int32_t>(Step(status, level, direction, stepping));
        });
    }
    bool CanSetLevel(Level) const override { return false; }
    Outcome SetLevel(Level, std::uint8_t) override { return Failure{Fault::kNotOpened}; }
    bool ModeCarriesAddresses() const override { return true; }
    Outcome WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) override {
        return Then([&] {
            written.push_back(addresses);
            if (ignoresWrites) return Outcome();
            network.mode = mode;
            if (addresses) {
                network.ip = addresses->ip;
                network.mask = addresses->mask;
                network.gateway = addresses->gateway;
            }
            return Outcome();
        });
    }
    Outcome Reconnect(std::optional<std::uint32_t>) override {
        return Then([] { return Outcome(); });
    }
    Outcome SendDefaultIp() override {
        return Then([] { return Outcome(); });
    }
    Result<std::uint32_t> ReadAddress() override {
        return Then([&] { return Result<std::uint32_t>(*network.ip); });
    }
    Outcome UpdateMainFirmware(const firmware::Image&, const firmware::ProgressSink&) override {
        return Then([] { return Outcome(); });
    }
    Outcome HoldBreak() override {
        return Then([] { return Outcome(); });
    }
    Outcome UpdateNetFirmware(const firmware::Image&, const firmware::ProgressSink&) override {
        return Then([] { return Outcome(); });
    }

    /// A level step on `status` as a unit that steps `stepping` makes it: the level after it.
    static std::int32_t Step(StatusBlock& status, Level level, StepDirection direction,
                             Stepping stepping) {
        std::uint8_t& value = status[StatusByteOf(level)];
        const LevelRange range = RangeOf(level);
        const int sent = value + (direction == StepDirection::Up ? range.step : -range.step);
        const bool inRange = sent >= 0 && sent <= range.highest;
        if (stepping == Stepping::Clamp || (stepping == Stepping::Refuse && inRange)) {
            value = static_cast<std::uint8_t>(std::clamp(sent, 0, static_cast<int>(range.highest)));
        }
        return value;
    }

    StatusBlock status{0, 0, 0, 20, 0, 128, 128, 128, 0};
    NetworkSettings network{std::nullopt, 0x7F000002, 0xFFFFFF00, 0x7F000001, AddressMode::Static};
    Stepping stepping = Stepping::Clamp;
    bool silent = false;         // every read fails: the unit does not answer
    bool ignoresWrites = false;  // a network write is taken but changes nothing
    int steps = 0;
    int presses = 0;
    std::vector<std::optional<Addresses>> written;

  protected:
    /// Where each exchange begins, before it touches the unit: a unit that holds, takes time or
    /// refuses its link says so here. This one answers at once.
    virtual Outcome Begin() { return {}; }

    /// The exchange's answer, once the unit has taken it: a refused exchange answers nothing.
    template <typename Answer>
    auto Then(Answer answer) -> decltype(answer()) {
        if (Outcome taken = Begin(); !taken.Ok()) return taken.GetFailure();
        return answer();
    }
};

}  // namespace vantrel::testing

#include "unit_link/unit_checks.h"

#include <algorithm>
#include <cstdlib>

namespace vantrel {
namespace {

// A failure at `shortfall`, keeping what was read so far.
Result<Check> Short(Shortfall shortfall, Failure failure, Check check = {}) {
    check.shortfall = shortfall;
    return {failure, check};
}

// The unit answered, but what it reports is not what was asked.
constexpr Failure kNotAsAsked{Fault::kBadReply};

Result<Check> Done(Confirmation confirmation, Check check = {}) {
    check.confirmation = confirmation;
    return check;
}

// One step judged from the levels before and after it. A step that would leave the range is
// at an end whether the unit stopped at the end (the console) or did not step at all (the
// serial link refuses a step of 5 past 0 or 255).
Result<Check> JudgeStep(Level level, StepDirection direction, std::int32_t before,
                        std::int32_t after) {
    const LevelRange range = RangeOf(level);
    const std::int32_t sent =
        direction == StepDirection::Up ? before + range.step : before - range.step;
    Check check;
    check.level = after;
    if (sent >= 0 && sent <= range.highest) {
        if (after == sent) return Done(Confirmation::Confirmed, check);
    } else if (after == std::clamp(sent, 0, range.highest) || after == before) {
        return Done(Confirmation::AtEnd, check);
    }
    return Short(after == before ? Shortfall::kLevelDidNotMove : Shortfall::kLevelElsewhere,
                 kNotAsAsked, check);
}

Result<std::int32_t> LevelNow(UnitLink& link, Level level) {
    Result<StatusBlock> status = link.ReadStatus();
    if (!status.Ok()) return status.GetFailure();
    return status.Value()[StatusByteOf(level)];
}

// One step from `before`, judged.
Result<Check> OneStep(UnitLink& link, Level level, StepDirection direction, std::int32_t before) {
    Result<std::int32_t> after = link.StepLevel(level, direction);
    if (!after.Ok()) return Short(Shortfall::kCommand, after.GetFailure());
    return JudgeStep(level, direction, before, after.Value());
}

bool ShowsEffect(const Button& button, const StatusBlock& before, const StatusBlock& after) {
    switch (button.effect) {
        case ButtonEffect::Lamp:
            return (before[button.index] == 0) != (after[button.index] == 0);
        case ButtonEffect::MeterMode:
            return (after[status_byte::kMeterMode] != 0) == (button.index != 0);
        case ButtonEffect::Input:
            return after[status_byte::kInput] == button.index;
        case ButtonEffect::None:
        case ButtonEffect::LevelStep:
        case ButtonEffect::FactoryReset:
            break;
    }
    return true;
}

bool Reports(const Button& button) {
    return button.effect == ButtonEffect::Lamp || button.effect == ButtonEffect::MeterMode ||
           button.effect == ButtonEffect::Input;
}

bool ReadBackAsWritten(const NetworkSettings& read, AddressMode mode,
                       const std::optional<Addresses>& written) {
    if (read.mode != mode) return false;
    if (mode != AddressMode::Static || !written) return true;  // DHCP gives the addresses
    return read.ip == written->ip && read.mask == written->mask && read.gateway == written->gateway;
}

}  // namespace

const char* ShortfallText(Shortfall shortfall) {
    switch (shortfall) {
        case Shortfall::kNone:
            return "nothing";
        case Shortfall::kCommand:
            return "the command was not carried out";
        case Shortfall::kStatusBefore:
            return "no status before the command";
        case Shortfall::kStatusAfter:
            return "no status read after the command";
        case Shortfall::kEffectNotShown:
            return "the unit's status does not show the button's effect";
        case Shortfall::kLevelDidNotMove:
            return "the level did not move";
        case Shortfall::kLevelElsewhere:
            return "the level read back is not where it was sent";
        case Shortfall::kCurrentSettings:
            return "the unit's current addresses could not be read";
        case Shortfall::kReconnect:
            return "no connection to the unit after the change";
        case Shortfall::kReadBack:
            return "the settings could not be read back";
        case Shortfall::kReadBackDiffers:
            return "the settings read back differ from those written";
        case Shortfall::kAddressRead:
            return "the unit did not answer an address read afterwards";
    }
    return "unknown";
}

const char* ConfirmationText(Confirmation confirmation) {
    switch (confirmation) {
        case Confirmation::Confirmed:
            return "confirmed";
        case Confirmation::AtEnd:
            return "stopped at its end";
        case Confirmation::Nearest:
            return "at the nearest value its steps reach";
        case Confirmation::SentUnreported:
            return "sent, the unit does not report this button";
    }
    return "unknown";
}

LevelRange RangeOf(Level level) {
    if (level == Level::Volume) return {40, 1};
    return {255, 5};
}

// Presses a button and confirms its effect against `before`, the status it was pressed in.
Result<Check> PressAndConfirm(UnitLink& link, const Button& button, const StatusBlock& before) {
    if (Outcome sent = link.Press(button); !sent.Ok()) {
        return Short(Shortfall::kCommand, sent.GetFailure());
    }
    Result<StatusBlock> after = link.ReadStatus();
    if (!after.Ok()) return Short(Shortfall::kStatusAfter, after.GetFailure());
    if (!Reports(button)) return Done(Confirmation::SentUnreported);
    if (!ShowsEffect(button, before, after.Value())) {
        return Short(Shortfall::kEffectNotShown, kNotAsAsked);
    }
    return Done(Confirmation::Confirmed);
}

Result<Check> PressButton(UnitLink& link, const Button& button) {
    if (button.effect == ButtonEffect::LevelStep) {
        return StepLevel(link, static_cast<Level>(button.index), button.direction, 1);
    }
    if (button.effect != ButtonEffect::Lamp) return PressAndConfirm(link, button, StatusBlock{});
    Result<StatusBlock> before = link.ReadStatus();
    if (!before.Ok()) return Short(Shortfall::kStatusBefore, before.GetFailure());
    return PressAndConfirm(link, button, before.Value());
}

Result<Check> BringLamp(UnitLink& link, const Button& lamp, bool on) {
    Result<StatusBlock> before = link.ReadStatus();
    if (!before.Ok()) return Short(Shortfall::kStatusBefore, before.GetFailure());
    if ((before.Value()[lamp.index] != 0) == on) return Done(Confirmation::Confirmed);
    return PressAndConfirm(link, lamp, before.Value());
}

Result<Check> StepLevel(UnitLink& link, Level level, StepDirection direction, int times) {
    Result<std::int32_t> before = LevelNow(link, level);
    if (!before.Ok()) return Short(Shortfall::kStatusBefore, before.GetFailure());
    Result<Check> step = Done(Confirmation::Confirmed, Check{{}, {}, before.Value(), {}, {}});
    for (int i = 0; i < times && step.Ok() && step.Value().confirmation != Confirmation::AtEnd;
         ++i) {
        step = OneStep(link, level, direction, *step.Value().level);
    }
    return step;
}

Result<Check> BringLevel(UnitLink& link, Level level, std::int32_t target) {
    if (link.CanSetLevel(level)) {
        if (Outcome set = link.SetLevel(level, static_cast<std::uint8_t>(target)); !set.Ok()) {
            return Short(Shortfall::kCommand, set.GetFailure());
        }
        Result<std::int32_t> after = LevelNow(link, level);
        if (!after.Ok()) return Short(Shortfall::kStatusAfter, after.GetFailure());
        Check check;
        check.level = after.Value();
        if (after.Value() != target) return Short(Shortfall::kLevelElsewhere, kNotAsAsked, check);
        return Done(Confirmation::Confirmed, check);
    }
    Result<std::int32_t> now = LevelNow(link, level);
    if (!now.Ok()) return Short(Shortfall::kStatusBefore, now.GetFailure());
    std::int32_t at = now.Value();
    // Each step moves by a whole step or ends at an end, so this many are always enough.
    for (int steps = 0; steps <= RangeOf(level).highest; ++steps) {
        if (at == target) break;
        const StepDirection direction = target > at ? StepDirection::Up : StepDirection::Down;
        Result<Check> step = OneStep(link, level, direction, at);
        if (!step.Ok() || step.Value().confirmation == Confirmation::AtEnd) return step;
        const std::int32_t next = *step.Value().level;
        const bool passed = direction == StepDirection::Up ? next > target : next < target;
        if (passed) {
            if (std::abs(next - target) <= std::abs(at - target)) {
                return Done(Confirmation::Nearest, step.Value());
            }
            const StepDirection back =
                direction == StepDirection::Up ? StepDirection::Down : StepDirection::Up;
            Result<Check> stepBack = OneStep(link, level, back, next);
            if (!stepBack.Ok()) return stepBack;
            return Done(Confirmation::Nearest, stepBack.Value());
        }
        at = next;
    }
    Check check;
    check.level = at;
    if (at != target) return Short(Shortfall::kLevelElsewhere, kNotAsAsked, check);
    return Done(Confirmation::Confirmed, check);
}

Result<Check> ApplyNetwork(UnitLink& link, AddressMode mode,
                           const std::optional<Addresses>& addresses) {
    std::optional<Addresses> sent = addresses;
    if (!sent && link.ModeCarriesAddresses()) {
        // The console's mode change writes all three addresses: send the unit's own back.
        Result<NetworkSettings> current = link.ReadNetwork();
        const NetworkSettings& now = current.Value();
        if (!current.Ok() || !now.ip || !now.mask || !now.gateway) {
            return Short(Shortfall::kCurrentSettings,
                         current.Ok() ? kNotAsAsked : current.GetFailure());
        }
        sent = Addresses{*now.ip, *now.mask, *now.gateway};
    }
    if (Outcome written = link.WriteNetwork(mode, sent); !written.Ok()) {
        return Short(Shortfall::kCommand, written.GetFailure());
    }
    std::optional<std::uint32_t> movedTo;
    if (mode == AddressMode::Static && addresses) movedTo = addresses->ip;
    if (Outcome ready = link.Reconnect(movedTo); !ready.Ok()) {
        return Short(Shortfall::kReconnect, ready.GetFailure());
    }
    Result<NetworkSettings> read = link.ReadNetwork();
    Check check;
    check.network = read.Value();
    if (!read.Ok()) return Short(Shortfall::kReadBack, read.GetFailure(), check);
    if (!ReadBackAsWritten(read.Value(), mode, addresses)) {
        return Short(Shortfall::kReadBackDiffers, kNotAsAsked, check);
    }
    return Done(Confirmation::Confirmed, check);
}

Result<Check> RestoreDefaultIp(UnitLink& link) {
    if (Outcome sent = link.SendDefaultIp(); !sent.Ok()) {
        return Short(Shortfall::kCommand, sent.GetFailure());
    }
    Result<std::uint32_t> address = link.ReadAddress();
    if (!address.Ok()) return Short(Shortfall::kAddressRead, address.GetFailure());
    Check check;
    check.address = address.Value();
    return Done(Confirmation::Confirmed, check);
}

Result<UnitReading> ReadUnit(UnitLink& link) {
    UnitReading reading;
    Result<StatusBlock> status = link.ReadStatus();
    if (!status.Ok()) return {status.GetFailure(), reading};
    reading.status = status.Value();
    Result<NetworkSettings> network = link.ReadNetwork();
    reading.network = network.Value();
    if (!network.Ok()) return {network.GetFailure(), reading};
    if (link.ReadsVersions()) {
        Result<FirmwareVersions> versions = link.ReadVersions();
        if (!versions.Ok()) return {versions.GetFailure(), reading};
        reading.versions = versions.Value();
    }
    return reading;
}

}  // namespace vantrel

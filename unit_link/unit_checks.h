#pragma once

#include <cstdint>
#include <optional>

#include "unit/buttons.h"
#include "unit/outcome.h"
#include "unit_link/unit_link.h"
#include "unit/unit_values.h"

namespace vantrel {

// Commands carried out on a UnitLink and confirmed by the unit: each reads back what the unit
// reports and compares it with what was asked. Done means confirmed; anything short of that is
// a failure that names what was missing. The tool and the gateway both use these.

/// How a command that is done was confirmed.
enum class Confirmation : std::uint8_t {
    Confirmed,       // read back as asked
    AtEnd,           // a level read back at the end of its range, short of where it was sent
    Nearest,         // a level read back at the nearest value its steps reach to the target
    SentUnreported,  // sent, and the unit answered a status read afterwards; its status does
                     // not report this button
};

/// What was missing when a command is not done.
enum class Shortfall : std::uint8_t {
    kNone,
    kCommand,          // the command's own exchange failed
    kStatusBefore,     // the status read before the command
    kStatusAfter,      // the status read after the command
    kEffectNotShown,   // the status after does not show the button's effect
    kLevelDidNotMove,  // a step left the level where it was, away from its ends
    kLevelElsewhere,   // the level read back is not where the command should have left it
    kCurrentSettings,  // the unit's addresses, to send back with DHCP
    kReconnect,        // the link after the network change
    kReadBack,         // the network settings read back
    kReadBackDiffers,  // the network settings read back are not those written
    kAddressRead,      // the address read after Default IP
};

/// A few words for a shortfall, for reports.
const char* ShortfallText(Shortfall shortfall);
const char* ConfirmationText(Confirmation confirmation);

/// What a command came to: how it was confirmed or what was missing, and what was read back.
struct Check {
    Confirmation confirmation = Confirmation::Confirmed;
    Shortfall shortfall = Shortfall::kNone;
    std::optional<std::int32_t> level;       // levels: as last read back
    std::optional<NetworkSettings> network;  // network changes: as read back
    std::optional<std::uint32_t> address;    // Default IP: the address the unit answered with
};

/// The highest value of a level and the size of one step.
struct LevelRange {
    std::int32_t highest;
    std::int32_t step;
};
LevelRange RangeOf(Level level);

/// A button; a level step button steps its level once.
Result<Check> PressButton(UnitLink& link, const Button& button);
/// Brings a lamp on or off: its button, which flips it, is pressed only when the status read
/// first shows the lamp otherwise. Judged on the unit, not on a status read earlier.
Result<Check> BringLamp(UnitLink& link, const Button& lamp, bool on);
/// `times` steps; stops, done, at the end of the level's range.
Result<Check> StepLevel(UnitLink& link, Level level, StepDirection direction, int times);
/// Sets the level where the link can, else steps it towards `target` and stops at the nearest
/// value the steps reach, or at an end.
Result<Check> BringLevel(UnitLink& link, Level level, std::int32_t target);
/// Writes the mode and, for a static address, the addresses; reads the settings back and
/// compares: a static change needs all four back as written, DHCP needs the mode.
Result<Check> ApplyNetwork(UnitLink& link, AddressMode mode,
                           const std::optional<Addresses>& addresses);
/// Default IP, done when the unit answers an address read afterwards.
Result<Check> RestoreDefaultIp(UnitLink& link);

/// Everything a status read shows of a unit.
struct UnitReading {
    StatusBlock status{};
    NetworkSettings network;
    std::optional<FirmwareVersions> versions;  // where the link reads them
};
Result<UnitReading> ReadUnit(UnitLink& link);

}  // namespace vantrel

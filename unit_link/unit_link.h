#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "firmware/image.h"
#include "firmware/progress.h"
#include "unit/buttons.h"
#include "unit/outcome.h"
#include "unit/unit_values.h"

namespace vantrel {

/// One unit over its console or a serial port, for the clients that are not the window (the
/// tool, the gateway). Each call is one exchange, or the few a link needs for it, and returns
/// its outcome; whether a command did what it was asked is judged from what the unit reports
/// afterwards (unit_checks.h). No view, no texts for a person. Used by one thread at a time.
class UnitLink {
  public:
    virtual ~UnitLink() = default;

    /// Makes the link ready: the console connects, logs in and sees the session confirmed by a
    /// status read (a refused login is kLoginRefused); a serial port is looked up.
    virtual Outcome Open() = 0;
    virtual void Close() = 0;

    virtual Result<StatusBlock> ReadStatus() = 0;
    /// MAC, addresses and address mode.
    virtual Result<NetworkSettings> ReadNetwork() = 0;
    /// Whether the link reads the controllers' firmware versions (a serial port only).
    virtual bool ReadsVersions() const = 0;
    virtual Result<FirmwareVersions> ReadVersions() = 0;

    /// Sends one button's command; nothing is read.
    virtual Outcome Press(const Button& button) = 0;
    /// One step of a level; the level the unit reports afterwards.
    virtual Result<std::int32_t> StepLevel(Level level, StepDirection direction) = 0;
    /// Whether SetLevel brings `level` to a value at once.
    virtual bool CanSetLevel(Level level) const = 0;
    virtual Outcome SetLevel(Level level, std::uint8_t value) = 0;

    /// Whether a change of the address mode carries the three addresses with it, so that
    /// DHCP has to send the unit's own back (the console's Apply always writes all of them).
    virtual bool ModeCarriesAddresses() const = 0;
    /// Writes the address mode and, when given, the addresses.
    virtual Outcome WriteNetwork(AddressMode mode, const std::optional<Addresses>& addresses) = 0;
    /// After WriteNetwork: makes the link ready again for a read-back. A unit given a static
    /// address is looked for there first, then where it was.
    virtual Outcome Reconnect(std::optional<std::uint32_t> movedTo) = 0;
    virtual Outcome SendDefaultIp() = 0;
    /// The unit's IP address as it reports it now.
    virtual Result<std::uint32_t> ReadAddress() = 0;

    /// The main controller's image; ends between packets once the link's stop flag is set.
    virtual Outcome UpdateMainFirmware(const firmware::Image& image,
                                       const firmware::ProgressSink& progress) = 0;
    /// Holds the line in break, so that the net controller starts its bootloader when the unit
    /// is power-cycled; a serial port only.
    virtual Outcome HoldBreak() = 0;
    /// After HoldBreak and the power cycle: the net controller's image.
    virtual Outcome UpdateNetFirmware(const firmware::Image& image,
                                      const firmware::ProgressSink& progress) = 0;
};

}  // namespace vantrel

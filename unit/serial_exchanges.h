#pragma once

#include <cstdint>
#include <optional>

#include "unit/clock.h"
#include "unit/outcome.h"
#include "unit/unit_values.h"
#include "unit/serial_frames.h"
#include "serial/serial_device.h"

namespace vantrel {

// The panel's exchanges over the serial control protocol. Each one runs on a port that
// OpenSelectedPort opened and, unless said otherwise, closes it at the end; every pause goes
// through the clock.

/// The panel's line settings: 115200 baud, 8 data bits, no parity, one stop bit, no handshake.
constexpr std::uint32_t kPanelBaudRate = 115200;

/// Opens the COM port at `selection` of the panel's port list with the panel's line
/// settings. False when it does not open, and also when there is no port to open (the list
/// is empty or nothing is selected): callers treat both alike.
bool OpenSelectedPort(SerialDevice& serial, const std::int32_t* comPorts, std::int32_t count,
                      std::int32_t selection);

/// A plain command: write the frame and close (no purge, no pause, no reply).
Outcome RunPlainCommand(SerialDevice& serial, const SerialFrame& frame);

/// Factory reset: purge, write 04 53 57 23, 30 ms, close.
Outcome RunFactoryReset(SerialDevice& serial, Clock& clock);

/// Volume Up or Down, then the Volume read back: the level the unit reports.
Result<std::uint8_t> RunVolumeStep(SerialDevice& serial, Clock& clock, StepDirection direction);

/// The level a step of 5 leads to from `level`, or nothing when the step would leave 0..255.
std::optional<std::uint8_t> SteppedLevel(std::uint8_t level, StepDirection direction);

struct LevelStep {
    /// The level the unit reported; nothing when its reply did not come in full.
    std::optional<std::uint8_t> read;
    /// The level sent back to the unit; nothing when no step was made (at an end).
    std::optional<std::uint8_t> stepped;
};

/// Reads an LCD level and, when the step stays in range, sets the stepped level. Done also at
/// an end, where nothing is set; fails when the read did not pass.
Result<LevelStep> RunLevelStep(SerialDevice& serial, Clock& clock, Level level,
                               StepDirection direction);

/// Sets an LCD level at once: purge, the set frame, 30 ms, close.
Outcome RunLevelSet(SerialDevice& serial, Clock& clock, Level level, std::uint8_t value);

/// The status poll's read: the status block.
Result<StatusBlock> RunStatusRead(SerialDevice& serial, Clock& clock);

enum class NetworkReadVariant : std::uint8_t {
    /// The Read button: MAC without a purge, 200 ms.
    ReadButton,
    /// Choosing the RS232 link: purge before the MAC, 100 ms, and 200 ms after it.
    LinkChoice
};

/// MAC, IP, mask, gateway and address mode. Fails at the first checked reply that does not
/// pass, with nothing after it sent, and keeps the values read before it. A mode reply that
/// did not come in full, or names neither mode, leaves the mode out without failing. Leaves
/// the port open: on a failure the panel tells the user before it closes the port.
Result<NetworkSettings> RunNetworkRead(SerialDevice& serial, Clock& clock,
                                       NetworkReadVariant variant);

/// Apply: in static mode (`addresses` given) writes IP, mask and gateway; then the mode frame
/// and 6 s for the controller to take it; then reads IP, mask and gateway back, which come
/// back as the value. Fails at the first read-back that does not pass. Leaves the port open,
/// as RunNetworkRead does.
Result<NetworkSettings> RunNetworkWrite(SerialDevice& serial, Clock& clock,
                                        const std::optional<Addresses>& addresses,
                                        AddressMode mode);

/// Default IP: write 04 87 60 0B. The port stays open for the address read that tells
/// whether the unit took it.
Outcome RunDefaultIp(SerialDevice& serial);

/// The IP address read (04 87 60 02, 200 ms). Leaves the port open.
Result<std::uint32_t> RunAddressRead(SerialDevice& serial, Clock& clock);

/// The firmware dialog's version read: the main controller's, and only when that one answered,
/// the network controller's. Closes the port. Fails when the main controller did not answer.
Result<FirmwareVersions> RunVersionRead(SerialDevice& serial, Clock& clock);

/// Switches the main controller into its firmware loader: write 04 53 57 FE, 3 s, purge. The
/// port stays open for the loader protocol.
Outcome EnterLoader(SerialDevice& serial, Clock& clock);

}  // namespace vantrel

#pragma once

#include <cstdint>
#include <optional>

#include "unit/clock.h"
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

/// Plain command and Default IP: write the frame and close (no purge, no pause, no reply).
void RunPlainCommand(SerialDevice& serial, const SerialFrame& frame);

/// Factory reset: purge, write 04 53 57 23, 30 ms, close.
void RunFactoryReset(SerialDevice& serial, Clock& clock);

enum class StepDirection : std::uint8_t { Down, Up };

/// Volume Up or Down, then the Volume read back: the level, or nothing when the reply did not
/// come in full.
std::optional<std::uint8_t> RunVolumeStep(SerialDevice& serial, Clock& clock,
                                          StepDirection direction);

/// The LCD levels, numbered as their slots in the panel's levels.
enum class LcdLevel : std::uint8_t { Brightness = 1, Contrast = 2, Saturation = 3 };

/// The level a step of 5 leads to from `level`, or nothing when the step would leave 0..255.
std::optional<std::uint8_t> SteppedLevel(std::uint8_t level, StepDirection direction);

struct LevelStepResult {
    /// The level the unit reported; nothing when its reply did not come in full.
    std::optional<std::uint8_t> read;
    /// The level sent back to the unit; nothing when no step was made.
    std::optional<std::uint8_t> stepped;
};

/// Reads the LCD level and, when the step stays in range, sets the stepped level.
LevelStepResult RunLevelStep(SerialDevice& serial, Clock& clock, LcdLevel level,
                             StepDirection direction);

/// Sets an LCD level at once: purge, the set frame, 30 ms, close.
void RunLevelSet(SerialDevice& serial, Clock& clock, LcdLevel level, std::uint8_t value);

/// The status poll's read: the status block, or nothing when the reply is rejected.
std::optional<SerialStatusBlock> RunStatusRead(SerialDevice& serial, Clock& clock);

/// What the network read and write report as each reply passes its check, so the panel can
/// show it at once (a later failed check keeps what was shown).
class NetworkReadListener {
  public:
    enum class AddressKind : std::uint8_t { Ip, Mask, Gateway };

    virtual ~NetworkReadListener() = default;
    virtual void OnMac(const MacAddress& mac) = 0;
    virtual void OnAddress(AddressKind kind, std::uint32_t address) = 0;
    /// Byte 2 of the mode reply (unchecked); not called when that reply did not come in full.
    virtual void OnMode(std::uint8_t mode) = 0;
};

enum class NetworkReadVariant : std::uint8_t {
    /// The Read button: MAC without a purge, 200 ms.
    ReadButton,
    /// Choosing the RS232 link: purge before the MAC, 100 ms, and 200 ms after it is shown.
    LinkChoice
};

/// MAC, IP, mask, gateway and address mode. True when every checked reply passed; false at
/// the first one that failed, with nothing after it sent. Leaves the port open: on a failure
/// the panel tells the user before it closes the port.
bool RunNetworkRead(SerialDevice& serial, Clock& clock, NetworkReadVariant variant,
                    NetworkReadListener& listener);

struct StaticAddresses {
    std::uint32_t ip = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
};

/// Apply: in static mode (`addresses` given) writes IP, mask and gateway; then the mode frame
/// with `modeByte` and 6 s for the controller to take it; then reads IP, mask and gateway
/// back. True when all three came back; false at the first failed check. Leaves the port
/// open, as RunNetworkRead does.
bool RunNetworkWrite(SerialDevice& serial, Clock& clock,
                     const std::optional<StaticAddresses>& addresses, std::uint8_t modeByte,
                     NetworkReadListener& listener);

struct FirmwareVersions {
    std::optional<FirmwareVersion> main;
    std::optional<FirmwareVersion> net;
};

/// The firmware dialog's version read: the main controller's, and only when that one answered,
/// the network controller's. Closes the port.
FirmwareVersions RunVersionRead(SerialDevice& serial, Clock& clock);

/// Switches the main controller into its firmware loader: write 04 53 57 FE, 3 s, purge. The
/// port stays open for the loader protocol.
void EnterLoader(SerialDevice& serial, Clock& clock);

// The serial-use state (the panel's m_nSerialState): which of the status poll and the panel
// commands holds the port. Both run on the window's thread; the state keeps them apart when a
// message box nests a message loop while a port is open.
constexpr std::uint8_t kSerialFree = 0;
constexpr std::uint8_t kSerialPolling = 1;
constexpr std::uint8_t kSerialCommand = 2;

/// A command exchange first waits while the status poll holds the port, checking every 30 ms.
void WaitWhileStatusPoll(const std::uint8_t& serialState, Clock& clock);

/// The status poll takes the port unless a command exchange holds it; false: skip this tick.
bool BeginStatusPoll(std::uint8_t& serialState);

}  // namespace vantrel

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/control_table.h"
#include "unit/serial_frames.h"

namespace vantrel::cli {

/// What the tool reads of one unit.
struct UnitStatus {
    uint8_t soloLeft = 0, soloRight = 0, mixDown = 0, meterMode = 0, input = 0;
    int32_t levels[4] = {};  // Volume, LCD Brightness, Contrast, Saturation
    uint32_t ip = 0, mask = 0, gateway = 0;
    uint8_t ipMode = 0;  // 1 static, 2 DHCP, 0 unknown
    std::string mac;
    std::optional<FirmwareVersion> mainVersion, netVersion;  // the serial link only
};

/// The result of one step on a unit: done, or the reason it was not.
struct Outcome {
    bool ok = true;
    std::string reason;
    static Outcome Failed(std::string why) { return {false, std::move(why)}; }
};

struct NetworkSettings {
    bool dhcp = false;
    uint32_t ip = 0, mask = 0, gateway = 0;
};

/// Firmware progress: bytes sent of the total.
using ProgressReport = std::function<void(int done, int total)>;

/// One unit, reached over its console (TCP) or a serial port. Every byte it sends is the
/// panel's own: the same session, handlers and procedures drive it. Used by one thread.
class UnitLink {
  public:
    virtual ~UnitLink() = default;
    /// Makes the link ready (the console logs in and reads the unit's state once).
    virtual Outcome Open() = 0;
    virtual Outcome ReadStatus(UnitStatus& status) = 0;
    virtual Outcome Press(const ControlButton& button) = 0;
    /// One step of a level up or down; `level` gets what the unit reports afterwards.
    virtual Outcome StepLevel(int index, bool up, int32_t& level) = 0;
    /// Brings an LCD level to a value directly where the link can; false where it cannot.
    virtual bool CanSetLevel(int index) const = 0;
    virtual Outcome SetLevel(int index, uint8_t value) = 0;
    virtual Outcome ApplyNetwork(const NetworkSettings& settings) = 0;
    virtual Outcome RestoreDefaultIp() = 0;
    virtual Outcome UpdateMainFirmware(const std::string& path, const ProgressReport& progress) = 0;
    /// The net controller: holds the line in break, tells the user (`powerCycle`, which returns
    /// once the unit has been power-cycled), then writes the image. The serial link only.
    virtual Outcome UpdateNetFirmware(
        const std::string& path, const ProgressReport& progress,
        const std::function<void(const std::string&)>& powerCycle) = 0;
    virtual void Close() = 0;
};

/// The unit's TCP console at a dotted IPv4 address, port 23.
std::unique_ptr<UnitLink> MakeConsoleLink(const std::string& address);
/// A serial port: a device path natively (/dev/ttyUSB0), "COMn" on Windows.
std::unique_ptr<UnitLink> MakeSerialLink(const std::string& port);

}  // namespace vantrel::cli

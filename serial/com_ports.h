#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

/// Room in the panel's COM port list; ports found after the tenth are not stored.
constexpr std::int32_t kMaxComPorts = 10;

/// The port numbers of the machine's present COM ports, in the order they are found, at most
/// kMaxComPorts of them: `ports` needs room for that many. Windows asks the setup API for the
/// Ports class and, when that lists none (as under Wine), reads the "COMn" values of
/// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM. Native builds list the ports given to MapComPort.
void EnumerateComPorts(std::int32_t* ports, std::int32_t* count);

/// The number after the first "(COM" of a device's friendly name, read as atoi reads it
/// ("(COMx)" gives 0); nothing when the name has no "(COM" (a printer port's "(LPT1)").
std::optional<std::int32_t> ComPortFromFriendlyName(const char* name);

/// The number of a device name "COMn" as SERIALCOMM holds it; nothing for any other name.
std::optional<std::int32_t> ComPortFromDeviceName(const char* name);

/// Stores the port numbers of `names`, converted by `parse`, in order, skipping the names it
/// rejects and keeping at most kMaxComPorts.
void CollectComPorts(const std::vector<std::string>& names,
                     std::optional<std::int32_t> (*parse)(const char*), std::int32_t* ports,
                     std::int32_t* count);

/// Native builds only: the device (a pty, in tests) that stands for COM port `port`, which
/// SerialPort::Open then opens. An empty path removes the port.
void MapComPort(std::uint32_t port, const std::string& path);
/// The device mapped to `port`; empty when none is.
std::string ComPortDevice(std::uint32_t port);

}  // namespace vantrel

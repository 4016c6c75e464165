#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel::cli {

/// The machine's serial ports, one line each: the name to give --port, and what is known of
/// the device (a USB adapter's vendor and product, natively also its stable /dev/serial/by-id
/// names). Natively a warning line follows the ports for each adapter that delays replies.
std::vector<std::string> ListSerialPorts();

#ifndef _WIN32
/// The ports under the given roots, as ListSerialPorts lists those under "/dev" and "/sys";
/// the warnings apart, for the caller to print where it prints warnings.
struct SerialPortListing {
    std::vector<std::string> lines;
    std::vector<std::string> warnings;
};
SerialPortListing ListSerialPortsUnder(const std::string& devRoot, const std::string& sysRoot);

/// A warning when `device` (a tty path, or a /dev/serial/by-id link to one) is a USB adapter
/// whose latency timer holds received bytes back for more than 1 ms, as FTDI adapters do with
/// their default of 16 ms: each reply then comes that much later. Nothing otherwise.
std::optional<std::string> LatencyWarning(const std::string& device,
                                          const std::string& sysRoot = "/sys");
#endif

}  // namespace vantrel::cli

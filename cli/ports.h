#pragma once

#include <string>
#include <vector>

namespace vantrel::cli {

/// The machine's serial ports, one line each: the name to give --port, and what is known of
/// the device (a USB adapter's vendor and product).
std::vector<std::string> ListSerialPorts();

}  // namespace vantrel::cli

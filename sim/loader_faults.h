#pragma once

#include <string>

namespace vantrel::sim {

/// Ways a bootloader can misbehave, by the number of the packet or frame it receives (the
/// first is 1; 0: never).
struct LoaderFaults {
    int nakAt = 0;       // refuses this packet (main: 00 33; net: a one-byte reply)
    int silentFrom = 0;  // answers nothing from this packet on
};

/// Takes "loader-nak=N" or "loader-silent=N" into faults; false for any other text.
bool ParseLoaderFault(const std::string& text, LoaderFaults& faults);

}  // namespace vantrel::sim

#pragma once

#include <string>

namespace vantrel::sim {

/// Ways a bootloader can misbehave, by the number of the packet or frame it receives (the
/// first is 1; 0: never).
struct LoaderFaults {
    int nakAt = 0;           // refuses this packet (main: 00 33; net: a one-byte reply)
    int silentFrom = 0;      // answers nothing from this packet on
    int lateDownloadMs = 0;  // the console's loader acknowledges Download this late
    bool bareOk = false;     // the console answers FWUPDATE and the entry frame "OK", no line end
    bool splitOk = false;    // ... "OK", then its line end a moment later in a segment of its own
};

/// Takes "loader-nak=N", "loader-silent=N", "loader-late-download=MS", "loader-bare-ok" or
/// "loader-split-ok" into faults; false for any other text.
bool ParseLoaderFault(const std::string& text, LoaderFaults& faults);

}  // namespace vantrel::sim

#pragma once

#include <string>

#include "sim/loader_faults.h"

namespace vantrel::sim {

/// Ways the simulated unit can be told to misbehave, so the panel's failure paths can be tried.
struct Faults {
    bool silentAfterLogin = false;  // reads and logs every line after the login, answers none
    int silentAfter = -1;           // answers this many commands, then none (-1: all of them)
    bool refuseLogin = false;       // refuses every password: what follows is a new login
    bool closeAtPassword = false;   // closes the connection when the password arrives
    int closeAfter = -1;            // closes the connection after this many commands (-1: never)
    bool shortReplies = false;      // every reply loses its last byte
    bool garbageReplies = false;    // every reply's bytes are replaced by non-text bytes
    int delayMs = 0;                // every reply is sent this late
    bool stuckLevels = false;       // the level steps are heard and ignored
    LoaderFaults loader;            // the main controller's bootloader after FWUPDATE
};

/// Adds one --fault value ("silent-after-login", "silent-after=N", "close-after=N",
/// "refuse-login", "close-at-password", "short", "garbage", "delay=N", "stuck-levels",
/// "loader-nak=N", "loader-silent=N") to faults; false when it is not one of them.
bool ParseFault(const std::string& text, Faults& faults);

}  // namespace vantrel::sim

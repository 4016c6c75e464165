#pragma once

#include <cstdint>

namespace vantrel {

/// How the network session carries out a command code.
enum class CommandKind {
    kNone,           // no exchange; the code is only cleared (0, and 30 to 255)
    kSend,           // send text; no reply is read
    kLevel,          // send text, pause, send readText, read the level as decimal text
    kStatus,         // send text, pause, read the status block
    kReadSettings,   // read IP, mask, gateway and mode; "Finish!"
    kApplySettings,  // send mode, mask, gateway and IP lines; "Finish!"; the session ends
    kSessionStart,   // the status and settings reads together, without a message
};

/// One row of the command table.
struct Command {
    CommandKind kind;
    const char* text;      // kSend: the line; kLevel: the ROT line; kStatus: the status line
    const char* readText;  // kLevel: the REA line
    int levelIndex;        // kLevel: which m_levels slot the reply fills
    int pauseAfterMs;      // kSend: pause after the line (the factory reset's 300 ms)
    bool posterWaits;      // PostCommand waits until no other code is pending
};

/// The table row of any code 0 to 255.
const Command& CommandFor(uint8_t code);

// Codes with a meaning of their own outside the table's rows.
constexpr uint8_t kStatusPollCode = 22;
constexpr uint8_t kSessionStartCode = 25;
constexpr uint8_t kDefaultIpCode = 26;

}  // namespace vantrel

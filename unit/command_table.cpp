#include "unit/command_table.h"

namespace vantrel {

namespace {

constexpr Command Send(const char* text, bool posterWaits) {
    return {CommandKind::kSend, text, nullptr, 0, 0, posterWaits};
}

constexpr Command Level(const char* rotText, const char* reaText, int index) {
    return {CommandKind::kLevel, rotText, reaText, index, 0, true};
}

constexpr Command Only(CommandKind kind) { return {kind, nullptr, nullptr, 0, 0, false}; }

const Command kCommands[] = {
    /* 0 */ Only(CommandKind::kNone),
    /* 1 */ Send("BTN1\r\n", true),                                     // Solo Left
    /* 2 */ Send("BTN2\r\n", true),                                     // Solo Right
    /* 3 */ Send("BTN3\r\n", true),                                     // Pre 2ch
    /* 4 */ Send("BTN4\r\n", true),                                     // Next 2ch
    /* 5 */ Send("BTN5\r\n", true),                                     // Pre 8ch
    /* 6 */ Send("BTN6\r\n", true),                                     // Next 8ch
    /* 7 */ Send("BTNE\r\n", true),                                     // SDI Input
    /* 8 */ Send("BTN8\r\n", true),                                     // Mix-Down
    /* 9 */ Level("ROT1\r\n", "REA6\r\n", 0),                           // Volume Up
    /* 10 */ Level("ROT2\r\n", "REA6\r\n", 0),                          // Volume Down
    /* 11 */ Send("ROT3\r\n", true),                                    // Mute
    /* 12 */ Send("BTN9\r\n", true),                                    // VU-Mode
    /* 13 */ Send("BTNA\r\n", true),                                    // DPPM-MODE
    /* 14 */ Send("BTNB\r\n", false),                                   // stored by no control
    /* 15 */ Level("ROT5\r\n", "REA8\r\n", 1),                          // LCD Brightness Down
    /* 16 */ Level("ROT4\r\n", "REA8\r\n", 1),                          // LCD Brightness Up
    /* 17 */ Level("ROT7\r\n", "REA9\r\n", 2),                          // LCD Contrast Down
    /* 18 */ Level("ROT6\r\n", "REA9\r\n", 2),                          // LCD Contrast Up
    /* 19 */ Level("ROT9\r\n", "REA10\r\n", 3),                         // LCD Saturation Down
    /* 20 */ Level("ROT8\r\n", "REA10\r\n", 3),                         // LCD Saturation Up
    /* 21 */ {CommandKind::kSend, "BTNC\r\n", nullptr, 0, 300, false},  // Factory Reset
    /* 22 */ {CommandKind::kStatus, "STA1\r\n", nullptr, 0, 0, false},  // status poll
    /* 23 */ Only(CommandKind::kReadSettings),                          // Read
    /* 24 */ Only(CommandKind::kApplySettings),                         // Apply
    /* 25 */ Only(CommandKind::kSessionStart),
    /* 26 */ Send("DEFAULTIP\r\n", false),  // Default IP
    /* 27 */ Send("BTND\r\n", true),        // HDMI Input
    /* 28 */ Send("BTNF\r\n", true),        // Balanced Audio Input
    /* 29 */ Send("BTNG\r\n", true),        // Unbalanced Audio Input
};

constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

}  // namespace

const Command& CommandFor(uint8_t code) {
    return code < kCommandCount ? kCommands[code] : kCommands[0];
}

}  // namespace vantrel

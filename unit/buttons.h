#pragma once

#include <cstdint>

#include "unit/unit_values.h"

namespace vantrel {

/// What a front-panel button does, as far as the unit's status block shows it.
enum class ButtonEffect : std::uint8_t {
    None,          // channel paging, Mute: nothing the status block reports
    Lamp,          // flips lamp `index` (0 Solo Left, 1 Solo Right, 2 Mix-Down)
    MeterMode,     // selects meter mode `index` (0 VU, 1 DPPM)
    Input,         // selects input `index` (0 HDMI, 1 SDI, 2 Balanced, 3 Unbalanced)
    LevelStep,     // steps level `index` in `direction`
    FactoryReset,  // resets every setting
};

/// One of the unit's front-panel buttons, as both links carry it.
struct Button {
    const char* name;    // in lower case with dashes: "solo-left"
    const char* label;   // as the front panel shows it (UTF-8): "Solo Left", "◀ 2 ch"
    std::uint8_t code;   // the console's command code (the command table)
    std::uint8_t frame;  // the main controller's serial command; 0 for the LCD level steps,
                         // which read the level and set it 5 away
    ButtonEffect effect;
    std::uint8_t index;
    StepDirection direction;  // LevelStep only
};

/// Every button the unit takes over its links, in the panel's order.
extern const Button kButtons[23];

/// The button by its name; nullptr when there is none.
const Button* FindButton(const char* name);
/// The button that selects input or meter mode `index`, or flips lamp `index`; nullptr when
/// there is none.
const Button* ButtonFor(ButtonEffect effect, std::uint8_t index);
/// The button that steps `level` in `direction`.
const Button& LevelButton(Level level, StepDirection direction);

}  // namespace vantrel

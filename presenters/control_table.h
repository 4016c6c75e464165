#pragma once

#include <cstdint>

#include "unit/buttons.h"

namespace vantrel {

/// What a click on one of the panel's pictured buttons does; see PanelControls.
enum class ControlKind : uint8_t {
    Push,        // pressed look, the command, 300 ms, normal look
    PushNoWait,  // as Push, but the code replaces any pending one (Factory Reset)
    Volume,      // as Push; the serial link reads the Volume back
    LevelDown,   // as Push; the serial link reads an LCD level and sets it 5 lower
    LevelUp,     // ... 5 higher
    Toggle,      // no pressed look; the lamp flips (Solo Left, Solo Right, Mix-Down)
    MeterMode,   // no pressed look; lights one of VU-Mode and DPPM-MODE
    Input,       // pressed look stays as the lit look; the former input goes out
    Dialog,      // opens the firmware update dialog (the window does that)
    Inert,       // LKFS-Mode: hidden, reports no click, does nothing
};

/// One pictured button of the panel.
struct ControlButton {
    int control;       // picture control id
    int normalBitmap;  // grey look, as the dialog template gives it
    int activeBitmap;  // blue pressed and lit look; 0 for none
    ControlKind kind;
    const Button* unit;  // what it sends to the unit; nullptr for Dialog and Inert
};

/// Every pictured button of the panel, in the order of their control ids.
extern const ControlButton kControlButtons[25];

/// The row of a picture control; nullptr when the control is not one of the buttons.
const ControlButton* FindControlButton(int control);
/// The picture that shows input 0 HDMI, 1 SDI, 2 Balanced, 3 Unbalanced; nullptr otherwise.
const ControlButton* InputButton(uint8_t input);
/// The picture that shows lamp 0 Solo Left, 1 Solo Right, 2 Mix-Down.
const ControlButton& LampButton(int lamp);
/// The picture of meter mode 0 VU-Mode or 1 DPPM-MODE.
const ControlButton& MeterModeButton(int mode);

}  // namespace vantrel

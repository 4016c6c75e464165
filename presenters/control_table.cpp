#include "presenters/control_table.h"

#include "res/resource.h"

namespace vantrel {

using K = ControlKind;

namespace {
// The unit's button that a picture presses; every name below is in the unit's table.
const Button* Unit(const char* name) { return FindButton(name); }
}  // namespace

const ControlButton kControlButtons[25] = {
    {IDC_SOLO_LEFT, IDB_SOLO_LEFT, IDB_SOLO_LEFT_LIT, K::Toggle, Unit("solo-left")},
    {IDC_SOLO_RIGHT, IDB_SOLO_RIGHT, IDB_SOLO_RIGHT_LIT, K::Toggle, Unit("solo-right")},
    {IDC_PRE_2CH, IDB_PRE_2CH, IDB_PRE_2CH_LIT, K::Push, Unit("pre-2ch")},
    {IDC_NEXT_2CH, IDB_NEXT_2CH, IDB_NEXT_2CH_LIT, K::Push, Unit("next-2ch")},
    {IDC_PRE_8CH, IDB_PRE_8CH, IDB_PRE_8CH_LIT, K::Push, Unit("pre-8ch")},
    {IDC_NEXT_8CH, IDB_NEXT_8CH, IDB_NEXT_8CH_LIT, K::Push, Unit("next-8ch")},
    {IDC_SDI_INPUT, IDB_SDI_INPUT, IDB_SDI_INPUT_LIT, K::Input, Unit("sdi-input")},
    {IDC_MIX_DOWN, IDB_MIX_DOWN, IDB_MIX_DOWN_LIT, K::Toggle, Unit("mix-down")},
    {IDC_VU_MODE, IDB_VU_MODE, IDB_VU_MODE_LIT, K::MeterMode, Unit("vu-mode")},
    {IDC_DPPM_MODE, IDB_DPPM_MODE, IDB_DPPM_MODE_LIT, K::MeterMode, Unit("dppm-mode")},
    {IDC_LKFS_MODE, IDB_LKFS_MODE_LIT, 0, K::Inert, nullptr},
    {IDC_VOLUME_DOWN, IDB_DOWN, IDB_DOWN_LIT, K::Volume, Unit("volume-down")},
    {IDC_VOLUME_UP, IDB_UP, IDB_UP_LIT, K::Volume, Unit("volume-up")},
    {IDC_MUTE, IDB_MUTE, IDB_MUTE_LIT, K::Push, Unit("mute")},
    {IDC_FIRMWARE_UPDATE, IDB_FIRMWARE_UPDATE, IDB_FIRMWARE_UPDATE_LIT, K::Dialog, nullptr},
    {IDC_BRIGHTNESS_DOWN, IDB_DOWN, IDB_DOWN_LIT, K::LevelDown, Unit("brightness-down")},
    {IDC_BRIGHTNESS_UP, IDB_UP, IDB_UP_LIT, K::LevelUp, Unit("brightness-up")},
    {IDC_CONTRAST_DOWN, IDB_DOWN, IDB_DOWN_LIT, K::LevelDown, Unit("contrast-down")},
    {IDC_CONTRAST_UP, IDB_UP, IDB_UP_LIT, K::LevelUp, Unit("contrast-up")},
    {IDC_SATURATION_DOWN, IDB_DOWN, IDB_DOWN_LIT, K::LevelDown, Unit("saturation-down")},
    {IDC_SATURATION_UP, IDB_UP, IDB_UP_LIT, K::LevelUp, Unit("saturation-up")},
    {IDC_FACTORY_RESET, IDB_FACTORY_RESET, IDB_FACTORY_RESET_LIT, K::PushNoWait,
     Unit("factory-reset")},
    {IDC_HDMI_INPUT, IDB_HDMI_INPUT, IDB_HDMI_INPUT_LIT, K::Input, Unit("hdmi-input")},
    {IDC_BALANCED_INPUT, IDB_BALANCED_INPUT, IDB_BALANCED_INPUT_LIT, K::Input,
     Unit("balanced-input")},
    {IDC_UNBALANCED_INPUT, IDB_UNBALANCED_INPUT, IDB_UNBALANCED_INPUT_LIT, K::Input,
     Unit("unbalanced-input")},
};

const ControlButton* FindControlButton(int control) {
    for (const ControlButton& button : kControlButtons) {
        if (button.control == control) return &button;
    }
    return nullptr;
}

const ControlButton* InputButton(uint8_t input) {
    constexpr int kInputs[4] = {IDC_HDMI_INPUT, IDC_SDI_INPUT, IDC_BALANCED_INPUT,
                                IDC_UNBALANCED_INPUT};
    return input < 4 ? FindControlButton(kInputs[input]) : nullptr;
}

const ControlButton& LampButton(int lamp) {
    constexpr int kLamps[3] = {IDC_SOLO_LEFT, IDC_SOLO_RIGHT, IDC_MIX_DOWN};
    return *FindControlButton(kLamps[lamp]);
}

const ControlButton& MeterModeButton(int mode) {
    return *FindControlButton(mode == 0 ? IDC_VU_MODE : IDC_DPPM_MODE);
}

}  // namespace vantrel

#include "link/control_table.h"

#include <cstring>

#include "unit/serial_frames.h"
#include "res/resource.h"

namespace vantrel {

using K = ControlKind;

const ControlButton kControlButtons[25] = {
    {IDC_SOLO_LEFT, "solo-left", IDB_SOLO_LEFT, IDB_SOLO_LEFT_LIT, K::Toggle, 1,
     main_cmd::kSoloLeft, 0},
    {IDC_SOLO_RIGHT, "solo-right", IDB_SOLO_RIGHT, IDB_SOLO_RIGHT_LIT, K::Toggle, 2,
     main_cmd::kSoloRight, 1},
    {IDC_PRE_2CH, "pre-2ch", IDB_PRE_2CH, IDB_PRE_2CH_LIT, K::Push, 3, main_cmd::kPre2ch, 0},
    {IDC_NEXT_2CH, "next-2ch", IDB_NEXT_2CH, IDB_NEXT_2CH_LIT, K::Push, 4, main_cmd::kNext2ch, 0},
    {IDC_PRE_8CH, "pre-8ch", IDB_PRE_8CH, IDB_PRE_8CH_LIT, K::Push, 5, main_cmd::kPre8ch, 0},
    {IDC_NEXT_8CH, "next-8ch", IDB_NEXT_8CH, IDB_NEXT_8CH_LIT, K::Push, 6, main_cmd::kNext8ch, 0},
    {IDC_SDI_INPUT, "sdi-input", IDB_SDI_INPUT, IDB_SDI_INPUT_LIT, K::Input, 7, main_cmd::kSdiInput,
     1},
    {IDC_MIX_DOWN, "mix-down", IDB_MIX_DOWN, IDB_MIX_DOWN_LIT, K::Toggle, 8, main_cmd::kMixDown, 2},
    {IDC_VU_MODE, "vu-mode", IDB_VU_MODE, IDB_VU_MODE_LIT, K::MeterMode, 12, main_cmd::kVuMode, 0},
    {IDC_DPPM_MODE, "dppm-mode", IDB_DPPM_MODE, IDB_DPPM_MODE_LIT, K::MeterMode, 13,
     main_cmd::kDppmMode, 1},
    {IDC_LKFS_MODE, "lkfs-mode", IDB_LKFS_MODE_LIT, 0, K::Inert, 0, 0, 0},
    {IDC_VOLUME_DOWN, "volume-down", IDB_DOWN, IDB_DOWN_LIT, K::Volume, 10, main_cmd::kVolumeDown,
     0},
    {IDC_VOLUME_UP, "volume-up", IDB_UP, IDB_UP_LIT, K::Volume, 9, main_cmd::kVolumeUp, 0},
    {IDC_MUTE, "mute", IDB_MUTE, IDB_MUTE_LIT, K::Push, 11, main_cmd::kMute, 0},
    {IDC_FIRMWARE_UPDATE, "firmware-update", IDB_FIRMWARE_UPDATE, IDB_FIRMWARE_UPDATE_LIT,
     K::Dialog, 0, 0, 0},
    {IDC_BRIGHTNESS_DOWN, "brightness-down", IDB_DOWN, IDB_DOWN_LIT, K::LevelDown, 15, 0, 1},
    {IDC_BRIGHTNESS_UP, "brightness-up", IDB_UP, IDB_UP_LIT, K::LevelUp, 16, 0, 1},
    {IDC_CONTRAST_DOWN, "contrast-down", IDB_DOWN, IDB_DOWN_LIT, K::LevelDown, 17, 0, 2},
    {IDC_CONTRAST_UP, "contrast-up", IDB_UP, IDB_UP_LIT, K::LevelUp, 18, 0, 2},
    {IDC_SATURATION_DOWN, "saturation-down", IDB_DOWN, IDB_DOWN_LIT, K::LevelDown, 19, 0, 3},
    {IDC_SATURATION_UP, "saturation-up", IDB_UP, IDB_UP_LIT, K::LevelUp, 20, 0, 3},
    {IDC_FACTORY_RESET, "factory-reset", IDB_FACTORY_RESET, IDB_FACTORY_RESET_LIT, K::PushNoWait,
     21, main_cmd::kFactoryReset, 0},
    {IDC_HDMI_INPUT, "hdmi-input", IDB_HDMI_INPUT, IDB_HDMI_INPUT_LIT, K::Input, 27,
     main_cmd::kHdmiInput, 0},
    {IDC_BALANCED_INPUT, "balanced-input", IDB_BALANCED_INPUT, IDB_BALANCED_INPUT_LIT, K::Input, 28,
     main_cmd::kBalancedInput, 2},
    {IDC_UNBALANCED_INPUT, "unbalanced-input", IDB_UNBALANCED_INPUT, IDB_UNBALANCED_INPUT_LIT,
     K::Input, 29, main_cmd::kUnbalancedInput, 3},
};

const ControlButton* FindControlButton(int control) {
    for (const ControlButton& button : kControlButtons) {
        if (button.control == control) return &button;
    }
    return nullptr;
}

const ControlButton* FindControlButton(const char* name) {
    for (const ControlButton& button : kControlButtons) {
        if (std::strcmp(button.name, name) == 0) return &button;
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

#include "unit/buttons.h"

#include <cstring>

#include "unit/serial_frames.h"

namespace vantrel {

namespace {
using E = ButtonEffect;
constexpr StepDirection kDown = StepDirection::Down;
constexpr StepDirection kUp = StepDirection::Up;
}  // namespace

const Button kButtons[23] = {
    {"solo-left", "Solo Left", 1, main_cmd::kSoloLeft, E::Lamp, 0, kUp},
    {"solo-right", "Solo Right", 2, main_cmd::kSoloRight, E::Lamp, 1, kUp},
    {"pre-2ch", "◀ 2 ch", 3, main_cmd::kPre2ch, E::None, 0, kUp},
    {"next-2ch", "2 ch ▶", 4, main_cmd::kNext2ch, E::None, 0, kUp},
    {"pre-8ch", "◀ 8 ch", 5, main_cmd::kPre8ch, E::None, 0, kUp},
    {"next-8ch", "8 ch ▶", 6, main_cmd::kNext8ch, E::None, 0, kUp},
    {"sdi-input", "SDI", 7, main_cmd::kSdiInput, E::Input, 1, kUp},
    {"mix-down", "Mix-Down", 8, main_cmd::kMixDown, E::Lamp, 2, kUp},
    {"vu-mode", "VU", 12, main_cmd::kVuMode, E::MeterMode, 0, kUp},
    {"dppm-mode", "DPPM", 13, main_cmd::kDppmMode, E::MeterMode, 1, kUp},
    {"volume-down", "Volume −", 10, main_cmd::kVolumeDown, E::LevelStep, 0, kDown},
    {"volume-up", "Volume +", 9, main_cmd::kVolumeUp, E::LevelStep, 0, kUp},
    {"mute", "Mute", 11, main_cmd::kMute, E::None, 0, kUp},
    {"brightness-down", "Brightness −", 15, 0, E::LevelStep, 1, kDown},
    {"brightness-up", "Brightness +", 16, 0, E::LevelStep, 1, kUp},
    {"contrast-down", "Contrast −", 17, 0, E::LevelStep, 2, kDown},
    {"contrast-up", "Contrast +", 18, 0, E::LevelStep, 2, kUp},
    {"saturation-down", "Saturation −", 19, 0, E::LevelStep, 3, kDown},
    {"saturation-up", "Saturation +", 20, 0, E::LevelStep, 3, kUp},
    {"factory-reset", "Factory Reset", 21, main_cmd::kFactoryReset, E::FactoryReset, 0, kUp},
    {"hdmi-input", "HDMI", 27, main_cmd::kHdmiInput, E::Input, 0, kUp},
    {"balanced-input", "Balanced", 28, main_cmd::kBalancedInput, E::Input, 2, kUp},
    {"unbalanced-input", "Unbalanced", 29, main_cmd::kUnbalancedInput, E::Input, 3, kUp},
};

const Button* FindButton(const char* name) {
    for (const Button& button : kButtons) {
        if (std::strcmp(button.name, name) == 0) return &button;
    }
    return nullptr;
}

const Button* ButtonFor(ButtonEffect effect, std::uint8_t index) {
    for (const Button& button : kButtons) {
        if (button.effect == effect && button.index == index) return &button;
    }
    return nullptr;
}

const Button& LevelButton(Level level, StepDirection direction) {
    for (const Button& button : kButtons) {
        if (button.effect == E::LevelStep && button.index == static_cast<std::uint8_t>(level) &&
            button.direction == direction) {
            return button;
        }
    }
    return kButtons[0];  // not reached: the table has both steps of every level
}

std::size_t StatusByteOf(Level level) {
    switch (level) {
        case Level::Volume:
            return status_byte::kVolume;
        case Level::Brightness:
            return status_byte::kBrightness;
        case Level::Contrast:
            return status_byte::kContrast;
        case Level::Saturation:
            return status_byte::kSaturation;
    }
    return status_byte::kVolume;
}

}  // namespace vantrel

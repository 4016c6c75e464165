#include "link/refresh_panel.h"

#include "link/control_ids.h"

namespace vantrel {

namespace {

struct Lamp {
    int picture;
    int offBitmap;
    int onBitmap;
};

// m_lamps[0..2]: a lamp counts as on whenever it is not 0.
constexpr Lamp kLamps[3] = {
    {kSoloLeftPicture, kBmpSoloLeftGrey, kBmpSoloLeftLit},
    {kSoloRightPicture, kBmpSoloRightGrey, kBmpSoloRightLit},
    {kMixDownPicture, kBmpMixDownGrey, kBmpMixDownLit},
};

// By m_nInput: 0 HDMI, 1 SDI, 2 Balanced, 3 Unbalanced.
constexpr Lamp kInputs[4] = {
    {kHdmiInputPicture, kBmpHdmiInputGrey, kBmpHdmiInputLit},
    {kSdiInputPicture, kBmpSdiInputGrey, kBmpSdiInputLit},
    {kBalancedInputPicture, kBmpBalancedInputGrey, kBmpBalancedInputLit},
    {kUnbalancedInputPicture, kBmpUnbalancedInputGrey, kBmpUnbalancedInputLit},
};

bool IsInput(uint8_t input) { return input < 4; }

}  // namespace

void RefreshPanel(PanelState& state, PanelView& view) {
    for (int i = 3; i >= 0; --i) {
        if (state.m_levels[i] != state.m_prevLevels[i])
            view.SetBarPos(LevelBar(i), state.m_levels[i]);
    }
    for (int i = 0; i < 3; ++i) {
        if (state.m_lamps[i] == state.m_prevLamps[i]) continue;
        const Lamp& lamp = kLamps[i];
        view.SetPicture(lamp.picture, state.m_lamps[i] != 0 ? lamp.onBitmap : lamp.offBitmap);
    }
    if (state.m_lamps[3] != state.m_prevLamps[3]) {
        const bool dppm = state.m_lamps[3] != 0;
        view.SetPicture(kVuModePicture, dppm ? kBmpVuModeGrey : kBmpVuModeLit);
        view.SetPicture(kDppmModePicture, dppm ? kBmpDppmModeLit : kBmpDppmModeGrey);
    }
    const uint8_t input = state.m_nInput;
    if (input == state.m_nPrevInput) return;
    if (IsInput(input)) view.SetPicture(kInputs[input].picture, kInputs[input].onBitmap);
    if (IsInput(state.m_nPrevInput)) {
        const Lamp& previous = kInputs[state.m_nPrevInput];
        view.SetPicture(previous.picture, previous.offBitmap);
    }
    state.m_nPrevInput = input;
}

}  // namespace vantrel

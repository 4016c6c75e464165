#include "presenters/refresh_panel.h"

#include "presenters/control_ids.h"
#include "presenters/control_table.h"

namespace vantrel {

namespace {

int LookOf(const ControlButton& button, bool lit) {
    return lit ? button.activeBitmap : button.normalBitmap;
}

}  // namespace

void RefreshPanel(PanelState& state, PanelView& view) {
    for (int i = 3; i >= 0; --i) {
        if (state.m_levels[i] != state.m_prevLevels[i])
            view.SetBarPos(LevelBar(i), state.m_levels[i]);
    }
    // A lamp counts as on whenever it is not 0, and so does the DPPM meter mode.
    for (int i = 0; i < 3; ++i) {
        if (state.m_lamps[i] == state.m_prevLamps[i]) continue;
        const ControlButton& lamp = LampButton(i);
        view.SetPicture(lamp.control, LookOf(lamp, state.m_lamps[i] != 0));
    }
    if (state.m_lamps[3] != state.m_prevLamps[3]) {
        const bool dppm = state.m_lamps[3] != 0;
        for (int mode : {0, 1}) {
            const ControlButton& picture = MeterModeButton(mode);
            view.SetPicture(picture.control, LookOf(picture, dppm == (mode == 1)));
        }
    }
    const uint8_t input = state.m_nInput;
    const uint8_t previous = state.m_nPrevInput;
    if (input == previous) return;
    if (const ControlButton* lit = InputButton(input))
        view.SetPicture(lit->control, lit->activeBitmap);
    if (const ControlButton* old = InputButton(previous))
        view.SetPicture(old->control, old->normalBitmap);
    state.m_nPrevInput = input;
}

}  // namespace vantrel

#include "presenters/status_update.h"

#include "presenters/control_ids.h"

namespace vantrel {

void ApplyStatusBlock(PanelState& state, const uint8_t block[kStatusBlockSize]) {
    for (int i = 0; i < 4; ++i) {
        state.m_prevLamps[i] = state.m_lamps[i];
        state.m_prevLevels[i] = state.m_levels[i];
    }
    state.m_lamps[0] = block[0];
    state.m_lamps[1] = block[1];
    state.m_lamps[2] = block[2];
    state.m_levels[0] = block[3];
    state.m_lamps[3] = block[4];
    state.m_levels[1] = block[5];
    state.m_levels[2] = block[6];
    state.m_levels[3] = block[7];
    state.m_nInput = block[8];
}

void ApplyLevel(PanelState& state, PanelView& view, int index, int32_t value) {
    state.m_prevLevels[index] = state.m_levels[index];
    state.m_levels[index] = value;
    view.SetBarPos(LevelBar(index), value);
}

void ShowLinkDown(PanelView& view, const char* status) {
    view.SetText(kStatusText, status);
    view.SetPicture(kConnectPicture, kBmpConnectGrey);
    view.SetPicture(kDisconnectPicture, kBmpDisconnectLit);
}

void ApplyIpMode(PanelState& state, PanelView& view, uint8_t ipMode) {
    const bool isStatic = ipMode == kIpModeStatic;
    state.m_nIpMode = ipMode;
    for (int control : {kIpAddress, kMaskAddress, kGatewayAddress}) {
        view.EnableControl(control, isStatic);
    }
    view.CheckRadio(isStatic ? kStaticIpRadio : kDhcpRadio, true);
    view.CheckRadio(isStatic ? kDhcpRadio : kStaticIpRadio, false);
}

}  // namespace vantrel

#pragma once

#include <cstdint>

#include "presenters/panel_state.h"
#include "presenters/panel_view.h"
#include "unit/unit_values.h"

namespace vantrel {

/// Status update: saves m_lamps and m_levels into their previous copies, then stores the block:
/// Solo Left, Solo Right, Mix-Down, Volume, meter mode, LCD Brightness, Contrast, Saturation,
/// input (the Volume byte sits between the third and the fourth lamp byte). The caller
/// refreshes the panel afterwards.
void ApplyStatusBlock(PanelState& state, const uint8_t block[kStatusBlockSize]);

/// Level update: saves m_levels[index] into m_prevLevels[index], stores value and moves the
/// level's bar to it.
void ApplyLevel(PanelState& state, PanelView& view, int index, int32_t value);

/// The look of a link that is down: the status text, Connect grey and Disconnect lit.
void ShowLinkDown(PanelView& view, const char* status);

/// Address mode update, from a mode reply on either link: static enables the address fields
/// and checks Static IP, DHCP disables them and checks DHCP.
void ApplyIpMode(PanelState& state, PanelView& view, uint8_t ipMode);

}  // namespace vantrel

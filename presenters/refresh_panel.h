#pragma once

#include "presenters/panel_state.h"
#include "presenters/panel_view.h"

namespace vantrel {

/// Redraws what a status update changed: each bar whose level differs from its previous copy
/// (last bar first), then Solo Left, Solo Right, Mix-Down and the meter-mode pair whose lamp
/// differs, then the input pictures when the input changed. Only m_nPrevInput is written: the
/// status update saves the other previous copies before it stores the new block. An unchanged
/// state sends nothing to the view, so a poll that brings no change costs no drawing.
void RefreshPanel(PanelState& state, PanelView& view);

}  // namespace vantrel

#pragma once

#include <cstdint>

#include "presenters/panel_state.h"
#include "presenters/panel_view.h"

namespace vantrel {

/// Hands a command code to the network session (window's thread, Ethernet link). With no
/// session the code is dropped. A waiting poster (see the command table) first waits in 100 ms
/// steps through the view while another code is pending, and stores nothing if the session
/// ends meanwhile; any other poster stores at once, replacing a pending code.
void PostCommand(PanelState& state, uint8_t code, PanelView& view);

/// The status timer's post: stores the status code only when a session runs and nothing is
/// pending. Never waits.
void PostStatusPoll(PanelState& state);

}  // namespace vantrel

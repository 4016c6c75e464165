// The status poll: every 5 s the panel follows the unit, on whichever link is in use.
#include "presenters/panel_controls.h"
#include "presenters/post_command.h"
#include "presenters/refresh_panel.h"
#include "presenters/serial_use.h"
#include "presenters/status_update.h"
#include "unit/serial_exchanges.h"

namespace vantrel {

void PanelControls::OnTimer(uintptr_t timer) {
    if (timer != kPollTimer || m_state.m_bPollPaused || m_state.m_bFirmwareOpen) return;
    if (m_state.m_nLinkMode == kLinkEthernet) {
        PostStatusPoll(m_state);  // the session asks for the status and refreshes
        return;
    }
    // Skipped while a command exchange holds the port (its message box lets the timer in).
    if (!BeginStatusPoll(m_state.m_nSerialState)) return;
    if (OpenSelectedPort()) {
        if (const Result<StatusBlock> block = RunStatusRead(m_serial, m_clock); block.Ok()) {
            ApplyStatusBlock(m_state, block.Value().data());
            RefreshPanel(m_state, m_view);
        }
    }
    m_state.m_nSerialState = kSerialFree;
}

}  // namespace vantrel

#pragma once

#include <cstdint>

#include "presenters/panel_state.h"
#include "presenters/panel_view.h"
#include "unit/byte_stream.h"
#include "unit/clock.h"
#include "unit/command_table.h"
#include "unit/console_exchanges.h"

namespace vantrel {

/// The network session: connects to the unit's console, logs in, reads the MAC and the unit's
/// state, then serves the command codes stored in m_nCommand one at a time until m_bLinkDown
/// is set. It runs the console's exchanges and shows each outcome on the panel. Lives on the
/// session thread's stack, buffers included.
class NetSession {
  public:
    NetSession(PanelState& state, PanelView& view, ByteStream& stream, Clock& clock);

    /// The whole session: Start, the command loop, End. Between passes it waits on the panel
    /// state until a code is stored or the link is told to go down, so an idle session costs
    /// nothing and a stored code is taken at once.
    void Run();

    /// Connect, login, MAC, and code 25 stored. False when the connection failed; that has
    /// then been reported and cleaned up, and the session is over.
    bool Start();
    /// One pass of the command loop: the pending code carried out and cleared, then the
    /// refresh when a status block came in. False when the loop must be left.
    bool RunPass();
    /// "Disconnect!", the socket closed, Connect grey and Disconnect lit.
    void End();

  private:
    /// What a settings read came to: whether any of it failed on the line, and whether its
    /// last exchange, the mode, did: that one is the result the link is judged by.
    struct SettingsRead {
        bool failedOnTheLine = false;
        bool modeFailedOnTheLine = false;
    };

    /// Carries out a code and shows its outcome. True when the exchange that the code names as
    /// its result failed on the line: the session then ends.
    bool Execute(uint8_t code);
    bool ReadStatus();
    bool ReadLevel(uint8_t code, const Command& command);
    /// Shows each address that passed its check and the mode.
    SettingsRead ReadSettings();
    bool ReadSettingsWithPicture();
    void ApplySettings();

    PanelState& m_state;
    PanelView& m_view;
    ByteStream& m_stream;
    Clock& m_clock;
    ConsoleExchanges m_console;
    bool m_bRefresh = false;                      // a status block was stored during this pass
    ImageHandle m_shownBmp = ImageHandle::kNone;  // the session's own pressed-picture slot
};

}  // namespace vantrel

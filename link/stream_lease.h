#pragma once

#include "link/panel_state.h"
#include "link/panel_view.h"

namespace vantrel {

/// The console stream lent to the firmware update dialog. While a lease is held no session
/// touches the stream: a session's start, each of its passes and its end hold the same lock,
/// so the update procedure is the stream's one user by construction, whatever the session was
/// doing when the dialog opened (logging in, say) and whatever codes are stored meanwhile.
/// Taken and returned on the window's thread; taking it waits for the pass under way, through
/// the view, so the session's control updates still get through.
class StreamLease {
  public:
    StreamLease(PanelState& state, PanelView& view);
    ~StreamLease();
    StreamLease(const StreamLease&) = delete;
    StreamLease& operator=(const StreamLease&) = delete;

  private:
    PanelState& m_state;
};

}  // namespace vantrel

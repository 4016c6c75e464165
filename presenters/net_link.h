#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "presenters/panel_state.h"
#include "presenters/panel_view.h"
#include "unit/byte_stream.h"
#include "unit/clock.h"

namespace vantrel {

/// Owns the network session thread: Connect and Disconnect as the panel's pictures do them,
/// at most one session thread at a time, and no session left running once Stop returns.
class NetLink {
  public:
    NetLink(PanelState& state, PanelView& view, ByteStream& stream, Clock& clock);
    /// Backstop only: tells a session to end and joins it without touching the view, which
    /// may be gone by now. The window calls Stop while it still exists.
    virtual ~NetLink();
    NetLink(const NetLink&) = delete;
    NetLink& operator=(const NetLink&) = delete;

    /// Connect picture: only while no session runs (m_bLinkDown 1). An earlier session thread
    /// that was told to end but has not yet returned is waited for first (through the view, so
    /// its last control updates get through); then Connect lit, Disconnect grey, m_bLinkDown 0
    /// and a new session thread. If no thread can be started, the link is put back down:
    /// "Connect to device fail.", Connect grey, Disconnect lit.
    void OnConnect();
    /// Disconnect picture: the session is told to end at the end of its pass; "Disconnect!",
    /// Connect grey, Disconnect lit. Acts whether or not a session runs.
    void OnDisconnect();
    /// Closing the window: tells the session to end and waits, through the view, until its
    /// thread has returned. Safe to call twice.
    void Stop();

  protected:
    /// Runs body on a new thread; false, or an exception, when no thread could be started.
    virtual bool StartThread(std::function<void()> body);

  private:
    void NetSessionThread();
    void WaitForThread();

    PanelState& m_state;
    PanelView& m_view;
    ByteStream& m_stream;
    Clock& m_clock;
    std::thread m_thread;
    std::atomic<bool> m_bThreadRunning{false};
};

}  // namespace vantrel

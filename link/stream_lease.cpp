#include "link/stream_lease.h"

namespace vantrel {

namespace {
constexpr Clock::Duration kPassWaitStep{10};
}

StreamLease::StreamLease(PanelState& state, PanelView& view) : m_state(state) {
    while (!m_state.m_streamUse.try_lock()) view.WaitForSession(kPassWaitStep);
    // After the lock: a login that ended meanwhile has un-paused the poll.
    m_state.m_bPollPaused = 1;
}

StreamLease::~StreamLease() {
    m_state.m_streamUse.unlock();
    m_state.m_bPollPaused = 0;
}

}  // namespace vantrel

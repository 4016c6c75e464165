#include "presenters/net_link.h"

#include "presenters/control_ids.h"
#include "presenters/net_session.h"
#include "presenters/status_update.h"

namespace vantrel {

namespace {
constexpr Clock::Duration kThreadWaitStep{10};
}

NetLink::NetLink(PanelState& state, PanelView& view, ByteStream& stream, Clock& clock)
    : m_state(state), m_view(view), m_stream(stream), m_clock(clock) {}

NetLink::~NetLink() {
    m_state.StoreLinkDown(1);
    if (m_thread.joinable()) m_thread.join();
}

void NetLink::OnConnect() {
    if (m_state.m_bLinkDown != 1) return;
    WaitForThread();
    m_view.SetPicture(kConnectPicture, kBmpConnectLit);
    m_view.SetPicture(kDisconnectPicture, kBmpDisconnectGrey);
    m_state.StoreLinkDown(0);
    m_bThreadRunning = true;
    bool started = false;
    // Whatever starting the thread throws (no thread to be had, no memory) leaves the link
    // down; it must never end the program.
    try {
        started = StartThread([this] { NetSessionThread(); });
    } catch (...) {
    }
    if (started) return;
    m_bThreadRunning = false;
    m_state.StoreLinkDown(1);
    ShowLinkDown(m_view, "Connect to device fail.");
}

void NetLink::OnDisconnect() {
    m_state.StoreLinkDown(1);
    ShowLinkDown(m_view, "Disconnect!");
}

void NetLink::Stop() {
    m_state.StoreLinkDown(1);
    WaitForThread();
}

bool NetLink::StartThread(std::function<void()> body) {
    m_thread = std::thread(std::move(body));
    return true;
}

void NetLink::NetSessionThread() {
    NetSession session(m_state, m_view, m_stream, m_clock);
    session.Run();
    m_bThreadRunning = false;
}

void NetLink::WaitForThread() {
    // The session's last control updates are delivered by the window's thread, so this wait
    // must go through the view rather than block in join.
    while (m_bThreadRunning) m_view.WaitForSession(kThreadWaitStep);
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace vantrel

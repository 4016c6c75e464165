#include "unit/tcp_stream.h"

namespace vantrel {

TcpStream::TcpStream(const std::atomic<int32_t>& stop, Clock& clock)
    : m_stop(stop), m_clock(clock), m_socket(NoSocket()) {}

TcpStream::~TcpStream() { Close(); }

bool TcpStream::TimedOut(Clock::TimePoint start, Clock::Duration limit) {
    return m_clock.Now() - start >= limit;
}

bool TcpStream::Connect(const char* address, uint16_t port) {
    Close();
    const Clock::TimePoint start = m_clock.Now();
    const Attempt attempt = StartConnect(address, port);
    if (attempt == Attempt::kConnected) return true;
    while (attempt == Attempt::kPending) {
        const Wait wait = WaitSlice(true);
        if (wait == Wait::kReady && ConnectSucceeded()) return true;
        if (wait != Wait::kNotYet || m_stop != 0) break;
        if (m_connectLimit && TimedOut(start, *m_connectLimit)) break;
    }
    Close();
    return false;
}

int TcpStream::Send(const void* data, int count) {
    if (m_socket == NoSocket()) return kTransferFailed;
    const char* bytes = static_cast<const char*>(data);
    const Clock::TimePoint start = m_clock.Now();
    int sent = 0;
    while (sent < count) {
        const int n = SendSome(bytes + sent, count - sent);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n != kWouldBlock || TimedOut(start) || WaitSlice(true) == Wait::kFailed)
            return kTransferFailed;
    }
    return sent;
}

int TcpStream::Receive(void* buffer, int capacity) {
    return ReceiveWithin(buffer, capacity, kTimeLimit);
}

int TcpStream::ReceiveWithin(void* buffer, int capacity, Clock::Duration limit) {
    if (m_socket == NoSocket()) return kTransferFailed;
    const Clock::TimePoint start = m_clock.Now();
    for (;;) {
        const Wait wait = WaitSlice(false);
        if (wait == Wait::kFailed) return kTransferFailed;
        if (wait == Wait::kReady) {
            const int n = ReceiveSome(buffer, capacity);
            if (n != kWouldBlock) return n;
        }
        if (m_stop != 0 || TimedOut(start, limit)) return kTransferFailed;
    }
}

void TcpStream::Close() {
    if (m_socket == NoSocket()) return;
    CloseSocket();
    m_socket = NoSocket();
}

}  // namespace vantrel

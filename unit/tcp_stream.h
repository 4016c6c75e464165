#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "unit/byte_stream.h"
#include "unit/clock.h"

namespace vantrel {

/// The console socket. Nothing waits for ever on the unit: the socket is non-blocking, and
/// connect and every receive wait in slices of at most 100 ms, re-checking the stop flag (the
/// panel's m_bLinkDown) between them, so Disconnect, choosing RS232 or closing the window end
/// a session waiting on the unit within about 100 ms; that wait then fails (-1). A receive or
/// send that gets nowhere for 3 s also fails (-1), so a unit that stops answering ends the
/// session instead of freezing it. On Windows, the caller has started Windows Sockets.
class TcpStream : public ByteStream {
  public:
    static constexpr Clock::Duration kSlice{100};
    static constexpr Clock::Duration kTimeLimit{3000};

    /// stop: waits give up once it holds a value other than 0. clock: measures the time limit.
    TcpStream(const std::atomic<int32_t>& stop, Clock& clock);
    ~TcpStream() override;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    /// A connect that has not completed after `limit` fails. Without one (the panel's way), a
    /// connect waits until the stop flag is set.
    void SetConnectLimit(std::optional<Clock::Duration> limit) { m_connectLimit = limit; }
    /// The local IPv4 address (A in the top byte) the socket is bound to before it connects, so
    /// that the unit can tell this link's lines from another's; without one the system picks.
    void SetSource(std::optional<std::uint32_t> address) { m_source = address; }

    bool Connect(const char* address, uint16_t port) override;
    int Send(const void* data, int count) override;
    int Receive(void* buffer, int capacity) override;
    int ReceiveWithin(void* buffer, int capacity, Clock::Duration limit) override;
    void Close() override;

  private:
    // The waiting loops are shared; these primitives are each platform's (tcp_stream_posix.cpp,
    // tcp_stream_win32.cpp).
    enum class Attempt { kConnected, kPending, kFailed };
    enum class Wait { kReady, kNotYet, kFailed };
    static constexpr int kWouldBlock = -2;
    static std::uintptr_t NoSocket();

    /// Creates a non-blocking socket into m_socket, binds it to m_source if given, and starts
    /// connecting it.
    Attempt StartConnect(const char* address, uint16_t port);
    /// After the socket became writable: whether the pending connect succeeded.
    bool ConnectSucceeded();
    /// One slice of waiting for the socket to become readable or writable.
    Wait WaitSlice(bool forWrite);
    /// One send or receive call: bytes moved (0 from a receive: the peer closed), kWouldBlock,
    /// or -1 on an error.
    int SendSome(const char* bytes, int count);
    int ReceiveSome(void* buffer, int capacity);
    void CloseSocket();

    bool TimedOut(Clock::TimePoint start, Clock::Duration limit = kTimeLimit);

    const std::atomic<int32_t>& m_stop;
    Clock& m_clock;
    std::uintptr_t m_socket;  // the platform's socket handle
    std::optional<Clock::Duration> m_connectLimit;
    std::optional<std::uint32_t> m_source;
};

}  // namespace vantrel

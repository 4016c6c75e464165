#pragma once

#include <cstdint>

#include "serial/transfer.h"
#include "unit/clock.h"

namespace vantrel {

/// The console connection as the session sees it: abstract so that the session can run over
/// a fake in tests and over Winsock or POSIX sockets in the programs.
class ByteStream {
  public:
    virtual ~ByteStream() = default;

    /// Connects to a dotted IPv4 address ("%d.%d.%d.%d"); false when no connection was made.
    virtual bool Connect(const char* address, uint16_t port) = 0;
    /// Sends all count bytes; returns count, or kTransferFailed.
    virtual int Send(const void* data, int count) = 0;
    /// Receives up to capacity bytes: the count received, 0 when the peer closed its side,
    /// kTransferFailed on error or when nothing came within the stream's own time limit.
    virtual int Receive(void* buffer, int capacity) = 0;
    /// As Receive, but waits up to `limit` instead of the stream's own time limit: for replies
    /// that the unit may take longer over (a loader that erases before it answers). A stream
    /// that has no time limit of its own waits as Receive does.
    virtual int ReceiveWithin(void* buffer, int capacity, Clock::Duration limit) {
        (void)limit;
        return Receive(buffer, capacity);
    }
    /// Closes the connection. Safe to call twice.
    virtual void Close() = 0;
};

}  // namespace vantrel

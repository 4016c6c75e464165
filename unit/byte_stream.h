#pragma once

#include <cstdint>

namespace vantrel {

/// The console connection as the session sees it: abstract so that the session can run over
/// a fake in tests and over Winsock or POSIX sockets in the programs.
class ByteStream {
  public:
    virtual ~ByteStream() = default;

    /// Connects to a dotted IPv4 address ("%d.%d.%d.%d"); false when no connection was made.
    virtual bool Connect(const char* address, uint16_t port) = 0;
    /// Sends all count bytes; returns count, or -1 on error.
    virtual int Send(const void* data, int count) = 0;
    /// Receives up to capacity bytes: the count received, 0 when the peer closed its side,
    /// -1 on error.
    virtual int Receive(void* buffer, int capacity) = 0;
    /// Closes the connection. Safe to call twice.
    virtual void Close() = 0;
};

}  // namespace vantrel

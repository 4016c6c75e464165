#pragma once

namespace vantrel::cli {

/// Windows Sockets, started for the program's life (nothing to do elsewhere).
class SocketsScope {
  public:
    SocketsScope();
    ~SocketsScope();
    SocketsScope(const SocketsScope&) = delete;
    SocketsScope& operator=(const SocketsScope&) = delete;
};

}  // namespace vantrel::cli

#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include "gateway/system/unique_fd.h"

namespace vantrel::gateway {

/// Tells systemd how the service stands, when it started the gateway as Type=notify: each state
/// one datagram on the AF_UNIX socket $NOTIFY_SOCKET names (a leading '@' for an abstract
/// name). Without it, or with a name that cannot be used, nothing is sent.
class ServiceNotifier {
  public:
    ServiceNotifier();

    /// Listening: `systemctl start` returns, and reports the service started.
    void Ready() const { Send("READY=1"); }
    /// Reading its files again after SIGHUP; Ready once done.
    void Reloading() const { Send("RELOADING=1"); }
    void Stopping() const { Send("STOPPING=1"); }

  private:
    void Send(const char* state) const;

    UniqueFd m_socket;
    sockaddr_un m_address{};
    socklen_t m_length = 0;
};

}  // namespace vantrel::gateway

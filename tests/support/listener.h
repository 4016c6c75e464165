#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::testing {

/// A plain listening socket on a loopback address, port 23 unless given. A backlog of 0 takes
/// one connection; the kernel then drops further attempts' SYNs, so the next connect hangs as it
/// would towards a unit that does not answer.
class Listener {
  public:
    Listener(const char* address, int backlog, int port = 23) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        inet_pton(AF_INET, address, &addr.sin_addr);
        m_ok = bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
               listen(m_fd, backlog) == 0;
    }
    ~Listener() { close(m_fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    bool ok() const { return m_ok; }
    int Accept() { return accept(m_fd, nullptr, nullptr); }

  private:
    int m_fd;
    bool m_ok;
};

}  // namespace vantrel::testing

#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/etcd_server.h"
#include "tests/support/running_gateway.h"

namespace vantrel::testing {

/// socat passing a free port of 127.0.0.1 on to port `to` there: a path between two programs
/// that a test can cut. Close ends it and every connection through it at once; Open brings it
/// back on the same port.
class SocatProxy {
  public:
    explicit SocatProxy(int to) : m_port(FreeLoopbackPorts(1).front()), m_to(to) {}
    ~SocatProxy() { Close(); }
    SocatProxy(const SocatProxy&) = delete;
    SocatProxy& operator=(const SocatProxy&) = delete;

    /// Starts passing connections on; true once it takes them. socat comes with
    /// scripts/install-deps.
    bool Open() {
        const std::string program = ProgramOnPath("socat");
        if (program.empty()) return false;
        std::vector<std::string> arguments{
            program, "TCP-LISTEN:" + std::to_string(m_port) + ",bind=127.0.0.1,reuseaddr,fork",
            "TCP:127.0.0.1:" + std::to_string(m_to)};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            // A group of its own, with the child it forks for each connection: Close ends all.
            setpgid(0, 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (m_pid < 0) return false;
        return WaitUntil([this] { return Accepts(); }, std::chrono::seconds(10));
    }

    void Close() {
        if (m_pid <= 0) return;
        kill(-m_pid, SIGKILL);
        kill(m_pid, SIGKILL);  // should the group not have been made yet
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    int Port() const { return m_port; }

  private:
    bool Accepts() const {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<std::uint16_t>(m_port));
        const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        return connected;
    }

    const int m_port;
    const int m_to;
    pid_t m_pid = -1;
};

}  // namespace vantrel::testing

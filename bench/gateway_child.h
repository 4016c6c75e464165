#pragma once
// vantrel-gateway run as a child of a benchmark, serving simulated units on loopback.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/http_wire.h"

namespace vantrel::bench {

/// The gateway over `units` on 127.0.0.1:port, polling every 5 s, with `extra` options;
/// stopped with its owner.
/// It dies with the thread that starts it, so a benchmark that is killed leaves none behind.
class GatewayChild {
  public:
    GatewayChild(const std::vector<std::string>& units, int port,
                 const std::vector<std::string>& extra = {})
        : m_port(port) {
        std::vector<std::string> words{VANTREL_GATEWAY};
        for (const std::string& unit : units) words.insert(words.end(), {"--unit", unit});
        words.insert(words.end(), {"--listen", "127.0.0.1:" + std::to_string(port), "--poll", "5"});
        words.insert(words.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        // Made before the fork: the child of a threaded process makes only system calls.
        Fd devNull(open("/dev/null", O_WRONLY | O_CLOEXEC));
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(devNull.Get(), STDOUT_FILENO);
            execv(VANTREL_GATEWAY, argv.data());
            _exit(127);
        }
    }
    ~GatewayChild() { Stop(); }
    GatewayChild(const GatewayChild&) = delete;
    GatewayChild& operator=(const GatewayChild&) = delete;

    pid_t Pid() const { return m_pid; }

    /// Waits until GET /api/units shows `count` units up; false after `limit`.
    bool WaitAllUp(int count, std::chrono::seconds limit) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const std::string text = FetchText(m_port, "/api/units", std::chrono::seconds(1));
            int up = 0;
            for (size_t at = 0; (at = text.find("\"link\":\"up\"", at)) != text.npos; ++at) ++up;
            if (up == count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }

    /// SIGTERM, then SIGKILL if it has not ended within 3 s. True when it ended by itself.
    bool Stop() {
        if (m_pid <= 0) return true;
        kill(m_pid, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        bool ended = false;
        while (!ended && std::chrono::steady_clock::now() < end) {
            ended = waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
        return ended;
    }

  private:
    int m_port;
    pid_t m_pid = -1;
};

}  // namespace vantrel::bench

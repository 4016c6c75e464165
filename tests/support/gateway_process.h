#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::testing {

/// The vantrel-gateway program run with `arguments`, its stderr kept; killed if still running
/// when this goes. `inChild` runs in the child before the program (a lower limit, another user);
/// it may call only what is safe after a fork.
class GatewayProcess {
  public:
    explicit GatewayProcess(std::vector<std::string> arguments,
                            const std::function<void()>& inChild = {}) {
        // Made before the fork: the test's other threads may hold the allocator's lock at the
        // fork, and a child that allocates would then wait for it for ever.
        std::vector<char*> argv{const_cast<char*>(VANTREL_GATEWAY)};
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            if (inChild) inChild();
            execv(VANTREL_GATEWAY, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
        fcntl(m_err, F_SETFL, O_NONBLOCK);
    }
    ~GatewayProcess() {
        if (m_pid > 0 && !m_status) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) close(m_out);
        if (m_err >= 0) close(m_err);
    }
    GatewayProcess(const GatewayProcess&) = delete;
    GatewayProcess& operator=(const GatewayProcess&) = delete;

    /// Whether it said it is serving within `limit`.
    bool Serving(std::chrono::milliseconds limit) {
        pollfd watch{m_out, POLLIN, 0};
        char line[256];
        return poll(&watch, 1, static_cast<int>(limit.count())) > 0 &&
               read(m_out, line, sizeof line) > 0;
    }
    void Signal(int signal) { kill(m_pid, signal); }
    /// Its exit code once it has ended within `limit`; none while it runs on.
    std::optional<int> Exit(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!m_status) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() > end) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return m_status;
    }
    /// What it has written to stderr so far.
    const std::string& Errors() {
        char chunk[512];
        for (ssize_t n; (n = read(m_err, chunk, sizeof chunk)) > 0;) m_errors.append(chunk, n);
        return m_errors;
    }

  private:
    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    std::optional<int> m_status;
    std::string m_errors;
};

}  // namespace vantrel::testing

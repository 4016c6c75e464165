#pragma once
// An etcd cluster of several members (Debian's etcd-server) on 127.0.0.1, run as children of a
// benchmark, for gateways that share their units through it.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/http_wire.h"

namespace vantrel::bench {

/// `members` etcd members named m1, m2, ... on 127.0.0.1: member i's clients on firstPort + i,
/// its peers on firstPort + members + i, its data and log under `folder`/mI. Killed with
/// their owner, and with the thread that starts them, so a benchmark that dies leaves none.
class EtcdCluster {
  public:
    EtcdCluster(int members, int firstPort, std::string folder)
        : m_members(members), m_firstPort(firstPort), m_folder(std::move(folder)) {}
    ~EtcdCluster() {
        for (pid_t pid : m_pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    EtcdCluster(const EtcdCluster&) = delete;
    EtcdCluster& operator=(const EtcdCluster&) = delete;

    /// Starts every member and waits until each says it is healthy (a leader elected); false,
    /// with the reason in `why`, when one does not within `limit`.
    bool Start(std::chrono::seconds limit, std::string& why) {
        std::error_code error;
        std::filesystem::create_directories(m_folder, error);
        std::string cluster;
        for (int i = 0; i < m_members; ++i) {
            cluster += (i ? "," : "") + Name(i) + "=" + Url(PeerPort(i));
        }
        for (int i = 0; i < m_members; ++i) {
            const std::string folder = m_folder + "/" + Name(i);
            std::vector<std::string> words{"/usr/bin/etcd",
                                           "--name=" + Name(i),
                                           "--data-dir=" + folder,
                                           "--listen-client-urls=" + Url(ClientPort(i)),
                                           "--advertise-client-urls=" + Url(ClientPort(i)),
                                           "--listen-peer-urls=" + Url(PeerPort(i)),
                                           "--initial-advertise-peer-urls=" + Url(PeerPort(i)),
                                           "--initial-cluster=" + cluster,
                                           "--initial-cluster-state=new"};
            std::vector<char*> argv;
            for (std::string& word : words) argv.push_back(word.data());
            argv.push_back(nullptr);
            // Made before the fork: the child of a threaded process makes only system calls.
            Fd log(open((folder + ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                dup2(log.Get(), STDOUT_FILENO);
                dup2(log.Get(), STDERR_FILENO);
                execv(argv[0], argv.data());
                _exit(127);
            }
            if (pid < 0) {
                why = "cannot start etcd member " + Name(i);
                return false;
            }
            m_pids.push_back(pid);
        }
        const auto end = std::chrono::steady_clock::now() + limit;
        for (int i = 0; i < m_members; ++i) {
            while (FetchText(ClientPort(i), "/health", std::chrono::seconds(1))
                       .find("\"health\":\"true\"") == std::string::npos) {
                if (std::chrono::steady_clock::now() > end) {
                    why = "etcd member " + Name(i) + " is not healthy; see " + m_folder + "/" +
                          Name(i) + ".log";
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        }
        return true;
    }

    /// Every member's client URL, as --etcd takes them.
    std::string ClientUrls() const {
        std::string urls;
        for (int i = 0; i < m_members; ++i) urls += (i ? "," : "") + Url(ClientPort(i));
        return urls;
    }
    const std::vector<pid_t>& Pids() const { return m_pids; }

  private:
    static std::string Name(int i) { return "m" + std::to_string(i + 1); }
    static std::string Url(int port) { return "http://127.0.0.1:" + std::to_string(port); }
    int ClientPort(int i) const { return m_firstPort + i; }
    int PeerPort(int i) const { return m_firstPort + m_members + i; }

    const int m_members;
    const int m_firstPort;
    const std::string m_folder;
    std::vector<pid_t> m_pids;
};

}  // namespace vantrel::bench

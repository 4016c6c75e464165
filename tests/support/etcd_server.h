#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gateway/cluster/base64.h"
#include "gateway/cluster/etcd_client.h"
#include "gateway/net/client_tls.h"
#include "gateway/net/http_client.h"
#include "tests/support/running_gateway.h"
#include "tests/support/test_authority.h"

namespace vantrel::testing {

/// `count` different free TCP ports on 127.0.0.1 now: the kernel's picks, each held until all
/// are picked, then let go for a server to take.
inline std::vector<int> FreeLoopbackPorts(int count) {
    std::vector<int> sockets, ports;
    for (int i = 0; i < count; ++i) {
        sockets.push_back(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        const bool bound =
            bind(sockets.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            getsockname(sockets.back(), reinterpret_cast<sockaddr*>(&addr), &size) == 0;
        ports.push_back(bound ? ntohs(addr.sin_port) : 0);
    }
    for (int fd : sockets) close(fd);
    return ports;
}

/// Where the program `name` is on PATH; empty when it is not there.
inline std::string ProgramOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

/// The whole of a text file; empty when it cannot be read.
inline std::string FileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

/// How a test's etcd is reached beyond plain http.
struct EtcdSecurity {
    /// https with the authority's server certificate, asking clients for one it signed.
    const TestAuthority* tls = nullptr;
    int tokenTtl = 0;  // seconds an unused token lives (--auth-token-ttl), when not 0
};

/// A one-member etcd (Debian's etcd-server) on free ports of 127.0.0.1, its data in a
/// temporary folder, killed and its folder removed when this goes. Started at once; Stop and
/// Start again play etcd going down and coming back with its data.
class EtcdServer {
  public:
    /// For each step that sets etcd's users up: etcd hashes a password slowly on purpose, and on
    /// a loaded machine, niced as the tests are, it took over 2 s.
    static constexpr std::chrono::seconds kSetUpLimit{10};

    explicit EtcdServer(EtcdSecurity security = {})
        : m_ports(FreeLoopbackPorts(2)), m_security(security) {
        std::string folder = (std::filesystem::temp_directory_path() / "vantrel-etcd-XXXXXX");
        if (mkdtemp(folder.data())) m_folder = folder;
        if (const TestAuthority* tls = m_security.tls) {
            const auto made = gateway::ClientTls::Make(
                {tls->Authority(), tls->ClientCertificate(), tls->ClientKey()});
            if (made.Ok()) m_clientTls = made.Value();
        }
        Start();
    }
    ~EtcdServer() {
        Stop();
        std::error_code ignored;
        if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
    }
    EtcdServer(const EtcdServer&) = delete;
    EtcdServer& operator=(const EtcdServer&) = delete;

    /// Starts etcd and waits until it answers; false, with the reason in Error(), if it does not.
    bool Start() {
        m_error = m_folder.empty() ? "no temporary folder could be made for etcd's data" : "";
        const std::string program = ProgramOnPath("etcd");
        if (!m_error.empty()) return false;
        if (program.empty()) {
            m_error =
                "etcd is not installed (Debian's etcd-server; scripts/install-deps installs it)";
            return false;
        }
        const std::string client = Url();
        const std::string peer = "http://127.0.0.1:" + std::to_string(m_ports[1]);
        std::vector<std::string> arguments{program,
                                           "--name=test",
                                           "--data-dir=" + m_folder + "/data",
                                           "--listen-client-urls=" + client,
                                           "--advertise-client-urls=" + client,
                                           "--listen-peer-urls=" + peer,
                                           "--initial-advertise-peer-urls=" + peer,
                                           "--initial-cluster=test=" + peer,
                                           "--heartbeat-interval=20",
                                           "--election-timeout=200"};
        if (const TestAuthority* tls = m_security.tls) {
            arguments.insert(
                arguments.end(),
                {"--cert-file=" + tls->ServerCertificate(), "--key-file=" + tls->ServerKey(),
                 "--trusted-ca-file=" + tls->Authority(), "--client-cert-auth"});
        }
        if (m_security.tokenTtl > 0) {
            arguments.push_back("--auth-token-ttl=" + std::to_string(m_security.tokenTtl));
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const std::string log = m_folder + "/etcd.log";
        m_pid = fork();
        if (m_pid == 0) {
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        gateway::HttpClient health(m_clientTls);
        const bool answering = WaitUntil(
            [&] {
                const gateway::HttpAnswer reply =
                    health.Send(Place(), {"GET", "/health", {}, ""}, std::chrono::seconds(1));
                return reply.Ok() && reply.status == 200 &&
                       reply.body.find("\"true\"") != std::string::npos;
            },
            std::chrono::seconds(20));
        if (!answering) m_error = "etcd did not start: " + FileText(log);
        return answering;
    }

    /// Makes root and `user`, whose role may read and write every key under `prefix`, then turns
    /// etcd's authentication on, through its JSON gateway; false, with etcd's answer in
    /// Error(), if that fails.
    bool EnableAuth(const std::string& user, const std::string& password,
                    const std::string& prefix) {
        using gateway::cluster::Base64;
        using nlohmann::json;
        const json permission{{"key", Base64(prefix)},
                              {"range_end", Base64(gateway::cluster::PrefixEnd(prefix))},
                              {"permType", "READWRITE"}};
        const std::pair<const char*, json> steps[] = {
            {"/v3/auth/user/add", {{"name", "root"}, {"password", "root-secret"}}},
            {"/v3/auth/user/grant", {{"user", "root"}, {"role", "root"}}},
            {"/v3/auth/role/add", {{"name", user}}},
            {"/v3/auth/role/grant", {{"name", user}, {"perm", permission}}},
            {"/v3/auth/user/add", {{"name", user}, {"password", password}}},
            {"/v3/auth/user/grant", {{"user", user}, {"role", user}}},
            {"/v3/auth/enable", json::object()}};
        gateway::HttpClient http(m_clientTls);
        for (const auto& [target, request] : steps) {
            const gateway::HttpAnswer answer =
                http.Post(Place(), target, request.dump(), kSetUpLimit);
            if (!answer.Ok() || answer.status != 200) {
                m_error = std::string(target) + ": " + answer.error + answer.body;
                return false;
            }
        }
        return true;
    }

    /// Sets `user`'s password again, as root: etcd then refuses every token it gave the user.
    bool SetPassword(const std::string& user, const std::string& password) {
        using nlohmann::json;
        gateway::HttpClient http(m_clientTls);
        const gateway::HttpAnswer root =
            http.Post(Place(), "/v3/auth/authenticate",
                      json{{"name", "root"}, {"password", "root-secret"}}.dump(), kSetUpLimit);
        const json token = json::parse(root.body, nullptr, false);
        if (!root.Ok() || root.status != 200 || !token.contains("token")) {
            m_error = "root's authentication: " + root.error + root.body;
            return false;
        }
        gateway::HttpCall change{"POST",
                                 "/v3/auth/user/changepw",
                                 {},
                                 json{{"name", user}, {"password", password}}.dump()};
        change.headers.emplace_back("Authorization", token["token"].get<std::string>());
        const gateway::HttpAnswer changed = http.Send(Place(), change, kSetUpLimit);
        if (!changed.Ok() || changed.status != 200) {
            m_error = "changepw: " + changed.error + changed.body;
            return false;
        }
        return true;
    }

    /// Kills etcd at once, as a crash would.
    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    /// Stops etcd answering, without closing its connections, or lets it go on.
    void Pause() { kill(m_pid, SIGSTOP); }
    void Continue() { kill(m_pid, SIGCONT); }

    bool Running() const { return m_pid > 0 && m_error.empty(); }
    const std::string& Error() const { return m_error; }
    gateway::HttpPlace Place() const {
        return {"127.0.0.1", static_cast<std::uint16_t>(m_ports[0]), m_security.tls != nullptr};
    }
    std::string Url() const {
        return (m_security.tls ? "https" : "http") + std::string("://127.0.0.1:") +
               std::to_string(m_ports[0]);
    }

  private:
    const std::vector<int> m_ports;  // the client's, the peers'
    const EtcdSecurity m_security;
    std::shared_ptr<const gateway::ClientTls> m_clientTls;  // over https, the client's
    std::string m_folder;
    std::string m_error;
    pid_t m_pid = -1;
};

}  // namespace vantrel::testing

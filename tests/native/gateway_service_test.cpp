// The gateway as systemd runs it: it says READY=1 on $NOTIFY_SOCKET once it listens, and only
// then, RELOADING=1 and READY=1 around a SIGHUP, STOPPING=1 at the end; a SIGHUP also serves a
// new TLS certificate to the connections that come after it.
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sysexits.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "gateway/system/unique_fd.h"
#include "tests/support/gateway_process.h"
#include "tests/support/running_gateway.h"
#include "tests/support/test_certificate.h"
#include "tests/support/tls_client.h"

namespace vantrel {
namespace gateway_service_test {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLimit(5000);
constexpr long kDay = 24 * 60 * 60;

// What systemd listens on: a datagram socket, by a path or an abstract name ("@..."), named in
// $NOTIFY_SOCKET for the programs started while it stands.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& name)
        : m_socket(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@') address.sun_path[0] = '\0';
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        m_bound = bind(m_socket.Get(), reinterpret_cast<const sockaddr*>(&address), size) == 0;
        setenv("NOTIFY_SOCKET", name.c_str(), 1);
    }
    ~NotifySocket() { unsetenv("NOTIFY_SOCKET"); }

    bool Bound() const { return m_bound; }
    /// The next datagram within `limit`; none when nothing came.
    std::optional<std::string> Next(milliseconds limit) {
        pollfd watch{m_socket.Get(), POLLIN, 0};
        char state[256];
        if (poll(&watch, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
        const ssize_t size = recv(m_socket.Get(), state, sizeof state, 0);
        return size < 0 ? std::nullopt : std::optional<std::string>(std::string(state, size));
    }

  private:
    gateway::UniqueFd m_socket;
    bool m_bound = false;
};

TEST(GatewayServiceTest, SaysReadyOnceListeningAndEachChangeAfter) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vantrel-notify-" + std::to_string(getpid())))
            .string();
    std::filesystem::remove(path);
    NotifySocket systemd(path);
    ASSERT_TRUE(systemd.Bound());
    testing::GatewayProcess gateway({"--unit", "127.0.60.1", "--listen", "127.0.0.1:18067"});
    ASSERT_EQ(systemd.Next(kLimit), "READY=1") << gateway.Errors();
    // Listening already: nothing to wait for once READY=1 has come.
    httplib::Client client("127.0.0.1", 18067);
    const auto reply = client.Get("/api/units");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    gateway.Signal(SIGHUP);
    EXPECT_EQ(systemd.Next(kLimit), "RELOADING=1");
    EXPECT_EQ(systemd.Next(kLimit), "READY=1");
    gateway.Signal(SIGTERM);
    EXPECT_EQ(systemd.Next(kLimit), "STOPPING=1");
    EXPECT_EQ(gateway.Exit(kLimit), 0);
    std::filesystem::remove(path);
}

TEST(GatewayServiceTest, AGatewayThatCannotStartIsNeverReady) {
    NotifySocket systemd("@vantrel-notify-" + std::to_string(getpid()));
    ASSERT_TRUE(systemd.Bound());
    testing::GatewayProcess holder({"--unit", "127.0.60.1", "--listen", "127.0.0.1:18068"});
    ASSERT_EQ(systemd.Next(kLimit), "READY=1");
    testing::GatewayProcess second({"--unit", "127.0.60.2", "--listen", "127.0.0.1:18068"});
    EXPECT_EQ(second.Exit(kLimit), EX_TEMPFAIL);
    // It has ended: whatever it sent is queued already.
    EXPECT_EQ(systemd.Next(milliseconds(0)), std::nullopt);
}

// The certificate a new connection is served, DER, as `Der` gives a file's.
std::string Served(int port) {
    testing::TlsClient client("127.0.0.1", port);
    return client.Handshake(kLimit) ? client.PeerCertificate() : "";
}

std::string Der(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"),
                                                         &std::fclose);
    std::unique_ptr<X509, void (*)(X509*)> certificate(
        file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
    unsigned char* der = nullptr;
    const int size = certificate ? i2d_X509(certificate.get(), &der) : 0;
    std::string bytes;
    if (size > 0) bytes.assign(reinterpret_cast<const char*>(der), size);
    OPENSSL_free(der);
    return bytes;
}

TEST(GatewayServiceTest, ASighupServesTheNewCertificateAndKeepsTheOldForABadOne) {
    testing::TestCertificate served("tls-reload-served", 0, kDay), next("tls-reload-next", 0, kDay);
    ASSERT_TRUE(served.Made() && next.Made());
    const std::string before = Der(served.Certificate()), after = Der(next.Certificate());
    ASSERT_FALSE(before.empty() || after.empty() || before == after);
    testing::GatewayProcess gateway({"--unit", "127.0.60.1", "--listen", "127.0.0.1:18069",
                                     "--tls-cert", served.Certificate(), "--tls-key",
                                     served.Key()});
    ASSERT_TRUE(gateway.Serving(kLimit)) << gateway.Errors();
    EXPECT_EQ(Served(18069), before);

    const auto over = std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy_file(next.Certificate(), served.Certificate(), over);
    std::filesystem::copy_file(next.Key(), served.Key(), over);
    gateway.Signal(SIGHUP);
    EXPECT_TRUE(testing::WaitUntil([&] { return Served(18069) == after; }, kLimit));
    EXPECT_NE(gateway.Errors().find("read the TLS certificate and key again"), std::string::npos);

    std::ofstream(served.Certificate()) << "not a certificate\n";
    gateway.Signal(SIGHUP);
    EXPECT_TRUE(testing::WaitUntil(
        [&] {
            return gateway.Errors().find("cannot use the certificate " + served.Certificate() +
                                         ": no PEM certificate in it; the certificate in force "
                                         "stays") != std::string::npos;
        },
        kLimit))
        << gateway.Errors();
    EXPECT_EQ(Served(18069), after);
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Exit(kLimit), 0);
}

}  // namespace
}  // namespace gateway_service_test
}  // namespace vantrel

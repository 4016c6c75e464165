// HTTPS as clients and operators meet it: requests pipelined over TLS, the suites a TLS 1.2
// client may agree on, and the certificate and key files at the start, refused with the file
// and the reason or, when out of their dates, served with a warning and a metric that says so.
#include <grp.h>
#include <openssl/ssl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "gateway/gateway.h"
#include "tests/support/gateway_process.h"
#include "tests/support/running_gateway.h"
#include "tests/support/test_certificate.h"
#include "tests/support/tls_client.h"

namespace vantrel {
namespace gateway_tls_test {
namespace {

using std::chrono::milliseconds;
using testing::TestCertificate;
using testing::TlsClient;

constexpr long kDay = 24 * 60 * 60;

int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// The gauge's value in a metrics text; NaN when it is not there.
double Expiry(const std::string& text) {
    const std::string name = "\nvantrel_tls_certificate_expiry_seconds ";
    const auto at = text.find(name);
    return at == std::string::npos ? std::nan("") : std::atof(text.c_str() + at + name.size());
}

testing::RunningGateway HttpsGateway(const TestCertificate& certificate) {
    return testing::RunningGateway(1, "127.0.0.1", std::nullopt, {},
                                   [&](gateway::GatewayOptions& o) {
                                       o.tlsCertificate = certificate.Certificate();
                                       o.tlsKey = certificate.Key();
                                   });
}

// Requests sent together are answered in turn, as over plain HTTP. Each fills exactly what the
// server first reads of a connection (512 bytes), so that the rest wait already decrypted in
// the TLS stream while nothing more comes on the socket.
TEST(GatewayTlsTest, RequestsPipelinedOverTlsAreAllAnswered) {
    TestCertificate certificate("tls-pipelined", 0, kDay);
    ASSERT_TRUE(certificate.Made());
    auto gw = HttpsGateway(certificate);
    ASSERT_TRUE(gw.started) << gw.error;
    TlsClient client(gw.host, gw.service->Port());
    ASSERT_TRUE(client.Handshake(milliseconds(2000)));
    std::string request =
        "GET /api/meta HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(gw.service->Port()) +
        "\r\nX-Pad: ";
    request += std::string(512 - request.size() - 4, 'p') + "\r\n\r\n";
    ASSERT_TRUE(client.Send(request + request + request));
    auto answered = [](const std::string& text) { return Count(text, "HTTP/1.1 200 OK") == 3; };
    EXPECT_TRUE(answered(client.ReadUntil(answered, milliseconds(3000))));
}

// TLS 1.2 is agreed only with an ECDHE suite with AEAD, the server's choice first; TLS 1.3
// stays. A valid certificate's time left is in the metrics.
TEST(GatewayTlsTest, Tls12TakesOnlyEcdheWithAeadInTheServersOrder) {
    TestCertificate certificate("tls-suites", 0, kDay);
    ASSERT_TRUE(certificate.Made());
    auto gw = HttpsGateway(certificate);
    ASSERT_TRUE(gw.started) << gw.error;
    const int port = gw.service->Port();
    for (const char* suites : {"AES128-SHA:AES256-GCM-SHA384", "ECDHE-RSA-AES128-SHA",
                               "ECDHE-RSA-AES256-SHA384:DHE-RSA-AES128-GCM-SHA256"}) {
        TlsClient weak(gw.host, port, TLS1_2_VERSION, suites);
        EXPECT_FALSE(weak.Handshake(milliseconds(2000))) << suites << ": " << weak.Suite();
    }
    TlsClient preferring(gw.host, port, TLS1_2_VERSION,
                         "ECDHE-RSA-CHACHA20-POLY1305:ECDHE-RSA-AES128-GCM-SHA256");
    ASSERT_TRUE(preferring.Handshake(milliseconds(2000)));
    EXPECT_EQ(preferring.Suite(), "ECDHE-RSA-AES128-GCM-SHA256");

    TlsClient modern(gw.host, port);
    ASSERT_TRUE(modern.Handshake(milliseconds(2000)));
    EXPECT_EQ(modern.Suite().rfind("TLS_", 0), 0u) << modern.Suite();
    modern.Send("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                "\r\nConnection: close\r\n\r\n");
    const std::string& metrics = modern.ReadUntil(
        [](const std::string& text) { return !std::isnan(Expiry(text)); }, milliseconds(3000));
    EXPECT_NE(metrics.find("# TYPE vantrel_tls_certificate_expiry_seconds gauge"),
              std::string::npos);
    EXPECT_NEAR(Expiry(metrics), kDay, 60);
}

// What the gateway says when it cannot start with the files it was given.
std::string StartError(const std::string& certificate, const std::string& key) {
    gateway::GatewayOptions options;
    options.port = 0;
    options.tlsCertificate = certificate;
    options.tlsKey = key;
    gateway::Gateway gateway(options);
    std::string error;
    EXPECT_FALSE(gateway.Start(error));
    return error;
}

// Each file that cannot be used is named with why: one missing, one that holds no PEM, a key
// that is not the certificate's, and a key that others than its owner may read.
TEST(GatewayTlsTest, FilesThatCannotBeUsedAreRefusedWithTheFileAndTheReason) {
    TestCertificate certificate("tls-files", 0, kDay), other("tls-files-other", 0, kDay);
    ASSERT_TRUE(certificate.Made() && other.Made());
    const std::string cert = certificate.Certificate(), key = certificate.Key();
    const std::string missing = (certificate.Folder() / "missing.pem").string();
    EXPECT_EQ(StartError(missing, key), "cannot use the certificate " + missing + ": no such file");
    EXPECT_EQ(StartError(cert, missing), "cannot use the key " + missing + ": no such file");
    EXPECT_EQ(StartError(key, key),
              "cannot use the certificate " + key + ": no PEM certificate in it");
    const std::string notKey = other.Certificate();
    chmod(notKey.c_str(), 0600);
    EXPECT_EQ(StartError(cert, notKey),
              "cannot use the key " + notKey + ": no PEM private key in it");
    EXPECT_EQ(StartError(cert, other.Key()),
              "cannot use the key " + other.Key() + ": it is not the certificate's key");
    chmod(key.c_str(), 0640);
    EXPECT_EQ(StartError(cert, key), "others than its owner may read " + key + ": chmod 600 it");
}

// A key left to root, which the service's user cannot read, says so rather than that TLS failed.
TEST(GatewayTlsTest, AKeyTheServicesUserCannotReadSaysWhoseItIs) {
    TestCertificate certificate("tls-root-key", 0, kDay);
    ASSERT_TRUE(certificate.Made());
    testing::GatewayProcess gateway(
        {"--unit", "127.0.60.1", "--listen", "127.0.0.1:18041", "--tls-cert",
         certificate.Certificate(), "--tls-key", certificate.Key()},
        [] {
            const gid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
                _exit(126);
            }
        });
    EXPECT_EQ(gateway.Exit(milliseconds(5000)), 2);
    EXPECT_NE(gateway.Errors().find("cannot use the key " + certificate.Key() +
                                    ": permission denied: it belongs to root and the gateway "
                                    "runs as nobody"),
              std::string::npos)
        << gateway.Errors();
}

// A certificate out of its dates is served, with a warning at the start; once expired, its
// time left in the metrics is negative.
TEST(GatewayTlsTest, ACertificateOutOfItsDatesStartsWithAWarning) {
    TestCertificate expired("tls-expired", -2 * kDay, -kDay), early("tls-early", kDay, 2 * kDay);
    ASSERT_TRUE(expired.Made() && early.Made());
    auto arguments = [](const TestCertificate& certificate) {
        return std::vector<std::string>{"--unit",     "127.0.60.1",
                                        "--listen",   "127.0.0.1:18042",
                                        "--tls-cert", certificate.Certificate(),
                                        "--tls-key",  certificate.Key()};
    };
    {
        testing::GatewayProcess gateway(arguments(early));
        ASSERT_TRUE(gateway.Serving(milliseconds(5000)));
        EXPECT_NE(gateway.Errors().find("warning: the certificate " + early.Certificate() +
                                        " is not valid until "),
                  std::string::npos)
            << gateway.Errors();
    }
    testing::GatewayProcess gateway(arguments(expired));
    ASSERT_TRUE(gateway.Serving(milliseconds(5000)));
    EXPECT_NE(
        gateway.Errors().find("warning: the certificate " + expired.Certificate() + " expired on "),
        std::string::npos)
        << gateway.Errors();
    TlsClient client("127.0.0.1", 18042);
    ASSERT_TRUE(client.Handshake(milliseconds(2000)));
    client.Send("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:18042\r\nConnection: close\r\n\r\n");
    const std::string& metrics = client.ReadUntil(
        [](const std::string& text) { return !std::isnan(Expiry(text)); }, milliseconds(3000));
    EXPECT_NEAR(Expiry(metrics), -kDay, 60);
}

}  // namespace
}  // namespace gateway_tls_test
}  // namespace vantrel

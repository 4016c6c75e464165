// A key path that names a FIFO, where a reader blocks until someone writes, is refused at the
// start rather than hanging it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/gateway_process.h"
#include "tests/support/test_certificate.h"

namespace vantrel {
namespace gateway_tls_key_fifo_test {
namespace {

TEST(GatewayTlsKeyFifoTest, AFifoInTheKeysPlaceIsRefusedWithoutWaiting) {
    testing::TestCertificate certificate("tls-key-fifo", 0, 24 * 60 * 60);
    ASSERT_TRUE(certificate.Made());
    const std::string fifo = (certificate.Folder() / "key-fifo.pem").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    testing::GatewayProcess gateway({"--unit", "127.0.60.2", "--listen", "127.0.0.1:18049",
                                     "--tls-cert", certificate.Certificate(), "--tls-key", fifo});
    EXPECT_EQ(gateway.Exit(std::chrono::milliseconds(5000)), 2);
    EXPECT_NE(gateway.Errors().find(fifo + " is not a regular file"), std::string::npos)
        << gateway.Errors();
}

}  // namespace
}  // namespace gateway_tls_key_fifo_test
}  // namespace vantrel

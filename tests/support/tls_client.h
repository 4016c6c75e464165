#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace vantrel::testing {

/// A TLS client that offers what a test chooses (the highest version, the TLS 1.2 suites and
/// their order), sends exactly the bytes given and reads what comes back, every wait with a
/// limit. It does not check the server's certificate: the tests here look at the server's
/// choices, not at who it is.
class TlsClient {
  public:
    using Millis = std::chrono::milliseconds;

    /// `highest` is a TLS1_x_VERSION, 0 for any; `suites` an OpenSSL cipher list, "" for its own.
    TlsClient(const std::string& host, int port, int highest = 0, const std::string& suites = "")
        : m_context(SSL_CTX_new(TLS_client_method()), &SSL_CTX_free) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        if (m_fd < 0 || !m_context ||
            connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return;
        }
        // Every wait on the socket ends within a read's slice, so that the limits below hold.
        const timeval slice{0, 100 * 1000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
        if (highest) SSL_CTX_set_max_proto_version(m_context.get(), highest);
        if (!suites.empty()) SSL_CTX_set_cipher_list(m_context.get(), suites.c_str());
        m_ssl.reset(SSL_new(m_context.get()));
        if (m_ssl) SSL_set_fd(m_ssl.get(), m_fd);
    }
    ~TlsClient() {
        m_ssl.reset();
        if (m_fd >= 0) close(m_fd);
    }
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    /// Whether the handshake succeeds within `limit`.
    bool Handshake(Millis limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (m_ssl) {
            const int done = SSL_connect(m_ssl.get());
            if (done == 1) return true;
            if (SSL_get_error(m_ssl.get(), done) != SSL_ERROR_WANT_READ ||
                std::chrono::steady_clock::now() > end) {
                return false;
            }
        }
        return false;
    }
    /// The server's certificate, DER, after a handshake; "" without one.
    std::string PeerCertificate() const {
        const X509* certificate = m_ssl ? SSL_get0_peer_certificate(m_ssl.get()) : nullptr;
        unsigned char* der = nullptr;
        const int size = certificate ? i2d_X509(certificate, &der) : 0;
        std::string bytes;
        if (size > 0) bytes.assign(reinterpret_cast<const char*>(der), size);
        OPENSSL_free(der);
        return bytes;
    }
    /// The suite agreed on, after a handshake.
    std::string Suite() const { return m_ssl ? SSL_get_cipher_name(m_ssl.get()) : ""; }

    bool Send(const std::string& bytes) {
        return m_ssl && SSL_write(m_ssl.get(), bytes.data(), static_cast<int>(bytes.size())) ==
                            static_cast<int>(bytes.size());
    }

    /// What has come when `done` holds for it, or when `limit` passes or the connection ends.
    const std::string& ReadUntil(const std::function<bool(const std::string&)>& done,
                                 Millis limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        char chunk[16384];
        while (m_ssl && !done(m_in) && std::chrono::steady_clock::now() < end) {
            const int n = SSL_read(m_ssl.get(), chunk, sizeof chunk);
            if (n > 0) {
                m_in.append(chunk, static_cast<std::size_t>(n));
            } else if (SSL_get_error(m_ssl.get(), n) != SSL_ERROR_WANT_READ) {
                break;
            }
        }
        return m_in;
    }

  private:
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> m_context;
    std::unique_ptr<SSL, void (*)(SSL*)> m_ssl{nullptr, &SSL_free};
    int m_fd = -1;
    std::string m_in;
};

}  // namespace vantrel::testing

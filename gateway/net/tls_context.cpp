#include "gateway/net/tls_context.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <system_error>

#include "gateway/system/owner_only_file.h"

namespace vantrel::gateway {
namespace {

namespace ssl = boost::asio::ssl;

// TLS 1.2's suites: forward secrecy and authenticated encryption only, so no static RSA key
// exchange and no CBC with SHA-1. TLS 1.3 has its own list, which holds nothing weaker.
constexpr const char* kTls12Suites =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

std::string UserName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found) {
        return found->pw_name;
    }
    return "uid " + std::to_string(uid);
}

// Why `path` could not be read. A file the service's user may not read (one left to root, say)
// says whose it is.
std::string Unreadable(const std::string& path, int error) {
    if (error == ENOENT) return "no such file";
    struct stat status {};
    if (error == EACCES && stat(path.c_str(), &status) == 0) {
        return "permission denied: it belongs to " + UserName(status.st_uid) +
               " and the gateway runs as " + UserName(geteuid());
    }
    std::string words = std::generic_category().message(error);
    if (!words.empty()) {
        words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
    }
    return words;
}

// The whole file, read here rather than by OpenSSL, whose errors for a file that cannot be read
// reach Asio without words.
std::optional<std::string> ReadWhole(const std::string& path, std::string& why) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    std::string text;
    if (file) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;) {
            text.append(chunk, n);
        }
    }
    if (!file || std::ferror(file.get())) {
        why = Unreadable(path, errno);
        return std::nullopt;
    }
    return text;
}

// What OpenSSL found wrong with a file's contents. A file without a PEM block of the kind
// wanted comes from Asio as OpenSSL's bare "PEM lib", from OpenSSL 3's decoder as
// "unsupported", or, for authorities, as "no start line".
std::string Reason(const boost::system::error_code& ec, const std::string& wanted) {
    const auto code = static_cast<unsigned long>(ec.value());
    if (ERR_GET_REASON(code) == ERR_R_PEM_LIB || ERR_GET_REASON(code) == ERR_R_UNSUPPORTED ||
        (ERR_GET_LIB(code) == ERR_LIB_PEM && ERR_GET_REASON(code) == PEM_R_NO_START_LINE)) {
        return "no PEM " + wanted + " in it";
    }
    if (ERR_GET_LIB(code) == ERR_LIB_X509 && ERR_GET_REASON(code) == X509_R_KEY_VALUES_MISMATCH) {
        return "it is not the certificate's key";
    }
    return ec.message();
}

std::chrono::system_clock::time_point TimeOf(const ASN1_TIME* time) {
    std::tm parts{};
    ASN1_TIME_to_tm(time, &parts);
    return std::chrono::system_clock::from_time_t(timegm(&parts));
}

}  // namespace

bool UseCertificateAndKey(ssl::context& context, const std::string& certificate,
                          const std::string& key, std::string& error) {
    boost::system::error_code ec;
    std::string why;
    const std::optional<std::string> chain = ReadWhole(certificate, why);
    if (chain) context.use_certificate_chain(boost::asio::buffer(*chain), ec);
    if (!chain || ec) {
        error = "cannot use the certificate " + certificate + ": " +
                (chain ? Reason(ec, "certificate") : why);
        return false;
    }
    // Read once, as a secret; a key that cannot be read at all gets the same plain reason as
    // the certificate.
    int unreadable = 0;
    const std::optional<std::string> pem = ReadOwnerOnly(key, why, &unreadable);
    if (!pem && unreadable == 0) {
        error = why;
        return false;
    }
    if (pem) context.use_private_key(boost::asio::buffer(*pem), ssl::context::pem, ec);
    if (!pem || ec) {
        error = "cannot use the key " + key + ": " +
                (pem ? Reason(ec, "private key") : Unreadable(key, unreadable));
        return false;
    }
    return true;
}

bool TrustAuthorities(ssl::context& context, const std::string& authorities, std::string& error) {
    boost::system::error_code ec;
    std::string why;
    const std::optional<std::string> pem = ReadWhole(authorities, why);
    if (pem) context.add_certificate_authority(boost::asio::buffer(*pem), ec);
    if (!pem || ec) {
        error = "cannot use the authorities " + authorities + ": " +
                (pem ? Reason(ec, "certificate") : why);
        return false;
    }
    return true;
}

std::optional<ssl::context> MakeTlsContext(const std::string& certificate, const std::string& key,
                                           CertificateDates& dates, std::string& error) {
    ssl::context context(ssl::context::tls_server);
    context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                        ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                        SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_cipher_list(context.native_handle(), kTls12Suites);
    if (!UseCertificateAndKey(context, certificate, key, error)) return std::nullopt;
    const X509* served = SSL_CTX_get0_certificate(context.native_handle());
    dates = {TimeOf(X509_get0_notBefore(served)), TimeOf(X509_get0_notAfter(served))};
    return context;
}

}  // namespace vantrel::gateway

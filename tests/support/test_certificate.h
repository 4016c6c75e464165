#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace vantrel::testing {

/// A self-signed RSA certificate for 127.0.0.1 and its key, as PEM files in a folder of their
/// own (the key chmod 600), valid from `from` to `to` seconds from now: a past `to` makes one
/// that has expired. The folder goes with the object.
class TestCertificate {
  public:
    TestCertificate(const std::string& name, long from, long to)
        : m_folder(std::filesystem::temp_directory_path() /
                   ("vantrel-" + name + "-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(m_folder);
        std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_RSA_gen(2048), &EVP_PKEY_free);
        std::unique_ptr<X509, void (*)(X509*)> cert(X509_new(), &X509_free);
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), to);
        X509_set_pubkey(cert.get(), key.get());
        X509_NAME* subject = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert.get(), subject);
        // A client that checks the address it dialled finds it among the names.
        X509V3_CTX names;
        X509V3_set_ctx_nodb(&names);
        X509V3_set_ctx(&names, cert.get(), cert.get(), nullptr, nullptr, 0);
        X509_EXTENSION* address =
            X509V3_EXT_conf_nid(nullptr, &names, NID_subject_alt_name, "IP:127.0.0.1");
        X509_add_ext(cert.get(), address, -1);
        X509_EXTENSION_free(address);
        m_made = X509_sign(cert.get(), key.get(), EVP_sha256()) > 0 &&
                 Write(Key(),
                       [&](std::FILE* f) {
                           return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr,
                                                       nullptr);
                       }) &&
                 Write(Certificate(), [&](std::FILE* f) { return PEM_write_X509(f, cert.get()); });
        chmod(Key().c_str(), 0600);
    }
    ~TestCertificate() { std::filesystem::remove_all(m_folder); }
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;

    bool Made() const { return m_made; }
    std::string Certificate() const { return (m_folder / "cert.pem").string(); }
    std::string Key() const { return (m_folder / "key.pem").string(); }
    const std::filesystem::path& Folder() const { return m_folder; }

  private:
    template <typename WritePem>
    static bool Write(const std::string& path, WritePem write) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "w"),
                                                             &std::fclose);
        return file && write(file.get()) == 1;
    }

    std::filesystem::path m_folder;
    bool m_made = false;
};

}  // namespace vantrel::testing

#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vantrel::testing {

/// A throw-away certificate authority, and a server's and a client's certificates for
/// 127.0.0.1 that it signed, as PEM files in a temporary folder of their own (the keys chmod
/// 600), made by the openssl program; the folder goes with the object. No subject has a Common
/// Name, which etcd's JSON gateway refuses in a client certificate once authentication is on.
class TestAuthority {
  public:
    /// Only the authority's own certificate without `certificates`: one that signed no other.
    explicit TestAuthority(bool certificates = true) {
        std::string folder = (std::filesystem::temp_directory_path() / "vantrel-ca-XXXXXX");
        if (!mkdtemp(folder.data())) return;
        m_folder = folder;
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::string script = "openssl req -x509 " + key +
                             " -days 2 -subj /CN=test-ca -keyout ca-key.pem -out ca.pem";
        if (certificates) {
            script += " && for name in server client; do openssl req " + key +
                      " -subj /O=vantrel-test/OU=$name -addext subjectAltName=IP:127.0.0.1"
                      " -keyout $name-key.pem -out $name.csr && openssl x509 -req -in $name.csr"
                      " -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 2"
                      " -copy_extensions copy -out $name.pem || exit 1; done";
        }
        script =
            "cd " + m_folder + " && { " + script + " && chmod 600 *-key.pem; } >openssl.log 2>&1";
        m_made = std::system(script.c_str()) == 0;
    }
    ~TestAuthority() {
        std::error_code ignored;
        if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
    }
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    /// False, with openssl's words in Log(), when the files could not be made.
    bool Made() const { return m_made; }
    std::string Log() const {
        std::ifstream file(File("openssl.log"));
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    std::string Authority() const { return File("ca.pem"); }
    std::string ServerCertificate() const { return File("server.pem"); }
    std::string ServerKey() const { return File("server-key.pem"); }
    std::string ClientCertificate() const { return File("client.pem"); }
    std::string ClientKey() const { return File("client-key.pem"); }

  private:
    std::string File(const std::string& name) const { return m_folder + "/" + name; }

    std::string m_folder;
    bool m_made = false;
};

}  // namespace vantrel::testing

#pragma once

#include <memory>
#include <string>

#include "groups/checked.h"

namespace boost::asio::ssl {
class context;
}  // namespace boost::asio::ssl

namespace vantrel::gateway {

/// The PEM files a client's TLS is made from; any may be left empty.
struct ClientTlsFiles {
    std::string authorities;  // those alone a server's certificate may chain to; else the system's
    std::string certificate;  // a chain to show a server that asks for one, with `key`
    std::string key;
};

/// A client's TLS, made once and shared by its connections: TLS 1.2 or later, and the server's
/// certificate checked against the authorities (each connection also checks that it names the
/// address it dialled).
class ClientTls {
  public:
    using Made = groups::Checked<std::shared_ptr<const ClientTls>, std::string>;
    /// None, with the file and the reason in words, when a file cannot be read or used, or when
    /// others than its owner may read the key.
    static Made Make(const ClientTlsFiles& files);
    ~ClientTls();
    ClientTls(const ClientTls&) = delete;
    ClientTls& operator=(const ClientTls&) = delete;

    /// For the network sources: the context each connection's stream is made from.
    boost::asio::ssl::context& Context() const { return *m_context; }

  private:
    explicit ClientTls(std::unique_ptr<boost::asio::ssl::context> context);

    std::unique_ptr<boost::asio::ssl::context> m_context;
};

}  // namespace vantrel::gateway

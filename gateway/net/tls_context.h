#pragma once

// For the network sources only, like network_loop.h: the rest of the gateway never sees Asio.
#include <boost/asio/ssl/context.hpp>

#include <optional>
#include <string>

#include "gateway/net/http_server.h"

namespace vantrel::gateway {

/// A server's TLS from a PEM certificate chain and its key: TLS 1.3, and TLS 1.2 with ECDHE and
/// AEAD suites only, in the server's order of preference. `dates` gets the certificate's. None,
/// with the file and the reason in words in `error`, when either file cannot be read or used, or
/// when others than its owner may read the key.
/// Puts a PEM certificate chain and its key into `context`; false, with the file and the reason
/// in words in `error`, when either cannot be read or used, or when others than its owner may
/// read the key.
bool UseCertificateAndKey(boost::asio::ssl::context& context, const std::string& certificate,
                          const std::string& key, std::string& error);
/// Adds the PEM certificates of `authorities` to those `context` trusts; false, with the file and
/// the reason in words in `error`, when it cannot be read or holds none.
bool TrustAuthorities(boost::asio::ssl::context& context, const std::string& authorities,
                      std::string& error);

std::optional<boost::asio::ssl::context> MakeTlsContext(const std::string& certificate,
                                                        const std::string& key,
                                                        CertificateDates& dates,
                                                        std::string& error);

}  // namespace vantrel::gateway

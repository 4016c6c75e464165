#include "gateway/net/client_tls.h"

#include "gateway/net/tls_context.h"

namespace vantrel::gateway {

namespace ssl = boost::asio::ssl;

ClientTls::ClientTls(std::unique_ptr<ssl::context> context) : m_context(std::move(context)) {}
ClientTls::~ClientTls() = default;

ClientTls::Made ClientTls::Make(const ClientTlsFiles& files) {
    auto context = std::make_unique<ssl::context>(ssl::context::tls_client);
    context->set_options(ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    context->set_verify_mode(ssl::verify_peer);
    std::string error;
    if (files.authorities.empty()) {
        boost::system::error_code ec;
        context->set_default_verify_paths(ec);
        if (ec) return "cannot use the system's TLS authorities: " + ec.message();
    } else if (!TrustAuthorities(*context, files.authorities, error)) {
        return error;
    }
    if (!files.certificate.empty() &&
        !UseCertificateAndKey(*context, files.certificate, files.key, error)) {
        return error;
    }
    return std::shared_ptr<const ClientTls>(new ClientTls(std::move(context)));
}

}  // namespace vantrel::gateway

#include "gateway/net/request_head.h"

#include <string_view>

namespace vantrel::gateway {

std::optional<HttpRequest> RequestOf(const boost::beast::http::request_header<>& head,
                                     const std::string& peer) {
    const std::string_view target(head.target().data(), head.target().size());
    if (target.empty() || target.front() != '/') return std::nullopt;
    HttpRequest request;
    request.peer = peer;
    request.method = std::string(head.method_string());
    const auto question = target.find('?');
    request.path = PercentDecode(target.substr(0, question), false);
    if (question != target.npos) request.query = std::string(target.substr(question + 1));
    for (const auto& field : head) {
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    return request;
}

}  // namespace vantrel::gateway

#pragma once

// A network source: Beast's request head in, the gateway's HttpRequest out.
#include <boost/beast/http/message.hpp>

#include <optional>
#include <string>

#include "gateway/net/http_message.h"

namespace vantrel::gateway {

/// The request as the handler sees it, from the head Beast parsed, without its body: none when
/// its target is not a path beginning with '/' (a whole URL, "*"), which no route takes.
std::optional<HttpRequest> RequestOf(const boost::beast::http::request_header<>& head,
                                     const std::string& peer);

}  // namespace vantrel::gateway

#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "gateway/access/tokens.h"

namespace vantrel::gateway {

/// Only the loopback default needs no token: any other listen address can be reached by others.
bool NeedsToken(const std::string& host);
/// The shortest token a token file may hold.
constexpr std::size_t kShortestToken = 16;
/// The token in the file's first line, without surrounding blanks. None, with the reason in
/// `why`, when ReadOwnerOnly refuses the file or the token is shorter than kShortestToken.
std::optional<std::string> ReadTokenFile(const std::string& path, std::string& why);
/// Whether an Authorization header carries `Bearer <token>`, the scheme in any case; the
/// comparison takes the same time wherever the first difference is.
bool Authorized(const std::string& header, const std::string& token);
/// Without a token, the gateway answers only to its own loopback names, so that a page on
/// another site whose name was made to point at 127.0.0.1 cannot reach it (DNS rebinding).
bool LoopbackHost(const std::string& host, int port);
/// Whether a request that may change something or holds a stream comes from the gateway's own
/// page: no Origin (not a browser, or a same-origin GET), or an Origin that is `host`'s own
/// with `scheme` ("http" or "https").
bool OwnOrigin(const std::optional<std::string>& origin, const std::string& scheme,
               const std::string& host);

}  // namespace vantrel::gateway

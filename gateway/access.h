#pragma once

#include <optional>
#include <string>

namespace vantrel::gateway {

/// Only the loopback default needs no token: any other listen address can be reached by others.
bool NeedsToken(const std::string& host);
/// The token in the file's first line, without surrounding blanks; none when the file cannot
/// be read or holds none.
std::optional<std::string> ReadTokenFile(const std::string& path);
/// Whether an Authorization header carries exactly `Bearer <token>`; the comparison takes the
/// same time wherever the first difference is.
bool Authorized(const std::string& header, const std::string& token);
/// The API and the metrics; the page's own files hold no unit data.
bool NeedsAuthorization(const std::string& path);

}  // namespace vantrel::gateway

#pragma once

#include <optional>
#include <string>

namespace vantrel::gateway {

/// The whole of a file that holds secrets: none, with the reason in `why`, unless what was
/// opened is a regular file owned by the gateway's (effective) user that only its owner may
/// read or write (0600 or stricter). When it cannot be opened or read at all, `unreadable`, if
/// given, gets the errno, for a caller that words that reason itself.
std::optional<std::string> ReadOwnerOnly(const std::string& path, std::string& why,
                                         int* unreadable = nullptr);

}  // namespace vantrel::gateway

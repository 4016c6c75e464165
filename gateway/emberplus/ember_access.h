#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::gateway {

/// A block of IPv4 addresses, first octet in the top byte.
struct Cidr {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;
};

/// What an Ember+ client may do: a viewer reads; an operator also sets and invokes.
enum class EmberRole : std::uint8_t { kViewer, kOperator };

/// A block of clients allowed, and their role.
struct EmberAllow {
    Cidr block;
    EmberRole role = EmberRole::kOperator;
};

/// "A.B.C.D/N" or "A.B.C.D", comma-separated, each optionally followed by "=viewer" or
/// "=operator" (the default); false, with the part that is not one in `why`.
bool ParseEmberAllow(const std::string& text, std::vector<EmberAllow>& allow, std::string& why);
/// Ember+ has no authentication: on any address but a loopback one, the clients allowed must
/// be named.
bool NeedsAllowList(const std::string& host);
/// The role of a client from `address`: that of the narrowest block holding it, the first
/// listed of equals; an operator when the list is empty; none when no block holds it.
std::optional<EmberRole> RoleOf(const std::vector<EmberAllow>& allow, std::uint32_t address);

}  // namespace vantrel::gateway

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::gateway {

/// A block of IPv4 addresses, first octet in the top byte.
struct Cidr {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;
};

/// "A.B.C.D/N" or "A.B.C.D", comma-separated; false, with the part that is not one in `why`.
bool ParseCidrs(const std::string& text, std::vector<Cidr>& blocks, std::string& why);
/// Ember+ has no authentication: on any address but a loopback one, the clients allowed must
/// be named.
bool NeedsAllowList(const std::string& host);
/// Whether `address` lies in one of the blocks.
bool InBlocks(const std::vector<Cidr>& blocks, std::uint32_t address);

}  // namespace vantrel::gateway

#include "unit/address_rules.h"

namespace vantrel {

bool ReachableAddresses(const Addresses& addresses) {
    const std::uint32_t ip = addresses.ip;
    const std::uint32_t mask = addresses.mask;
    const bool multicast = (ip >> 28) == 0xE;  // 224.0.0.0 to 239.255.255.255
    // One run of ones from the top: the complement plus one is a power of two.
    const std::uint32_t rest = ~mask;
    const bool contiguous = (rest & (rest + 1)) == 0;
    return ip != 0 && ip != 0xFFFFFFFFu && !multicast && mask != 0 && contiguous;
}

Stranding StrandingOf(const Addresses& addresses) {
    const std::uint32_t ip = addresses.ip;
    const std::uint32_t mask = addresses.mask;
    const std::uint32_t network = ip & mask;
    const std::uint32_t broadcast = network | ~mask;
    const std::uint32_t gateway = addresses.gateway;
    if ((ip >> 24) == 127) return Stranding::kLoopback;
    // A /31 leaves only its network and broadcast addresses, which the unit's stack does not
    // take as point-to-point hosts.
    if (~mask < 3) return Stranding::kNarrowMask;
    if (ip == network) return Stranding::kNetworkAddress;
    if (ip == broadcast) return Stranding::kBroadcastAddress;
    if (gateway == 0) return Stranding::kNone;
    if (gateway == ip) return Stranding::kGatewayIsIp;
    if ((gateway & mask) != network || gateway == network || gateway == broadcast) {
        return Stranding::kGatewayOffSubnet;
    }
    return Stranding::kNone;
}

}  // namespace vantrel

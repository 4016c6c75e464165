#pragma once

#include "unit/unit_values.h"

namespace vantrel {

/// Whether a unit given these addresses could still be reached: an IP that is set (not
/// 0.0.0.0), not the broadcast address and not multicast; a mask that is one run of ones from
/// the top, 0.0.0.0 excluded. Any gateway will do, 0.0.0.0 (none) included.
bool ReachableAddresses(const Addresses& addresses);

/// Why a static address that ReachableAddresses takes would still strand a unit: the unit
/// takes it, but then cannot be reached on its network, or cannot reach past it.
enum class Stranding : std::uint8_t {
    kNone,
    kLoopback,          // 127.0.0.0/8 answers only the unit itself
    kNarrowMask,        // /31 or /32: no other host shares the unit's subnet
    kNetworkAddress,    // the IP is its subnet's network address
    kBroadcastAddress,  // the IP is its subnet's broadcast address
    kGatewayIsIp,       // the gateway is the unit itself
    kGatewayOffSubnet,  // the gateway is not a host of the unit's subnet
};

/// The first of those that these addresses fall into; kNone when none. A gateway of 0.0.0.0 is
/// none, and strands nothing.
Stranding StrandingOf(const Addresses& addresses);

}  // namespace vantrel

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

}  // namespace vantrel

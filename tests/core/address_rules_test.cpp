#include "unit/address_rules.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace address_rules_test {
namespace {

TEST(AddressRulesTest, OnlyAddressesTheUnitCanBeReachedAtPass) {
    struct Case {
        Addresses addresses;
        bool reachable;
    };
    const Case cases[] = {
        {{0x7F000002, 0xFFFFFF00, 0x7F000001}, true},
        {{0x7F000002, 0xFFFFFFFF, 0}, true},  // a host mask, and no gateway
        {{0x0A000005, 0x80000000, 0}, true},
        {{0, 0xFFFFFF00, 0x7F000001}, false},  // an emptied field
        {{0xFFFFFFFF, 0xFFFFFF00, 0}, false},  // broadcast
        {{0xE0000001, 0xFFFFFF00, 0}, false},  // 224.0.0.1
        {{0xEFFFFFFF, 0xFFFFFF00, 0}, false},  // 239.255.255.255
        {{0xF0000001, 0xFFFFFF00, 0}, true},   // 240.0.0.1 is not multicast
        {{0x7F000002, 0, 0}, false},           // no mask
        {{0x7F000002, 0xFF00FF00, 0}, false},  // ones that are not one run
        {{0x7F000002, 0x00FFFFFF, 0}, false},  // a run that does not start at the top
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReachableAddresses(c.addresses), c.reachable)
            << std::hex << c.addresses.ip << " " << c.addresses.mask;
    }
}

// Addresses the unit takes, but that leave it unreachable on its network or cut off past it.
TEST(AddressRulesTest, AddressesThatStrandAUnitAreNamed) {
    struct Case {
        Addresses addresses;
        Stranding stranding;
    };
    const Case cases[] = {
        {{0xC0A80105, 0xFFFFFF00, 0xC0A80101}, Stranding::kNone},  // 192.168.1.5/24 via .1
        {{0xC0A80105, 0xFFFFFF00, 0}, Stranding::kNone},           // no gateway
        {{0x0A000001, 0xFFFFFFFC, 0x0A000002}, Stranding::kNone},  // /30: two hosts
        {{0x7F000002, 0xFF000000, 0x7F000001}, Stranding::kLoopback},
        {{0x7FFFFFFE, 0xFFFFFF00, 0}, Stranding::kLoopback},
        {{0xC0A80105, 0xFFFFFFFF, 0}, Stranding::kNarrowMask},  // /32
        {{0x0A000001, 0xFFFFFFFE, 0}, Stranding::kNarrowMask},  // /31
        {{0xC0A80100, 0xFFFFFF00, 0xC0A80101}, Stranding::kNetworkAddress},
        {{0x0A000000, 0xFF000000, 0}, Stranding::kNetworkAddress},
        {{0xC0A801FF, 0xFFFFFF00, 0xC0A80101}, Stranding::kBroadcastAddress},
        {{0xC0A8017F, 0xFFFFFF80, 0}, Stranding::kBroadcastAddress},  // .127/25
        {{0xC0A80105, 0xFFFFFF00, 0xC0A80105}, Stranding::kGatewayIsIp},
        {{0xC0A80105, 0xFFFFFF00, 0xC0A80201}, Stranding::kGatewayOffSubnet},
        {{0xC0A80105, 0xFFFFFF80, 0xC0A80181}, Stranding::kGatewayOffSubnet},  // .129 past /25
        {{0xC0A80105, 0xFFFFFF00, 0xC0A80100}, Stranding::kGatewayOffSubnet},  // its network
        {{0xC0A80105, 0xFFFFFF00, 0xC0A801FF}, Stranding::kGatewayOffSubnet},  // its broadcast
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StrandingOf(c.addresses), c.stranding)
            << std::hex << c.addresses.ip << " " << c.addresses.mask << " " << c.addresses.gateway;
    }
}

}  // namespace
}  // namespace address_rules_test
}  // namespace vantrel

#include "unit/address_rules.h"

#include <gtest/gtest.h>

namespace vantrel {
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

}  // namespace
}  // namespace vantrel

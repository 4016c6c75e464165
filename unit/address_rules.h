#pragma once

#include "unit/unit_values.h"

namespace vantrel {

/// Whether a unit given these addresses could still be reached: an IP that is set (not
/// 0.0.0.0), not the broadcast address and not multicast; a mask that is one run of ones from
/// the top, 0.0.0.0 excluded. Any gateway will do, 0.0.0.0 (none) included.
bool ReachableAddresses(const Addresses& addresses);

}  // namespace vantrel

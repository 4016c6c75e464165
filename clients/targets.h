#pragma once

#include <string>
#include <vector>

#include "clients/link_factory.h"

namespace vantrel::clients {

/// The targets for consoles named by address and for serial ports; false, with the reason in
/// `error`, for an address that is not A.B.C.D or a unit named twice (two commands on one unit
/// would interleave on its one link).
bool MakeTargets(const std::vector<std::string>& consoles, const std::vector<std::string>& ports,
                 std::vector<Target>& targets, std::string& error);

}  // namespace vantrel::clients

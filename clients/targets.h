#pragma once

#include <string>
#include <vector>

#include "clients/link_factory.h"

namespace vantrel::clients {

/// The units file's plain form (groups/units_file.h reads its labels too) for a program that
/// serves consoles and serial ports side by side: a line that is a path (/dev/ttyUSB0) is a serial
/// port, added to `ports`, any other one a console's address, added to `consoles`. False, with the
/// file, the line and the reason in `error`, when the file cannot be read or a line is neither an
/// IPv4 address nor a path.
bool ReadUnitsFile(const std::string& path, std::vector<std::string>& consoles,
                   std::vector<std::string>& ports, std::string& error);

/// The targets for consoles named by address and for serial ports; false, with the reason in
/// `error`, for an address that is not A.B.C.D or a unit named twice (two commands on one unit
/// would interleave on its one link).
bool MakeTargets(const std::vector<std::string>& consoles, const std::vector<std::string>& ports,
                 std::vector<Target>& targets, std::string& error);

}  // namespace vantrel::clients

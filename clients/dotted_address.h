#pragma once

#include <cstdint>
#include <string>

namespace vantrel::clients {

/// "A.B.C.D": exactly four decimal octets 0 to 255 of one to three digits, without a leading
/// zero, and nothing else (no sign, space or anything before or after). The value has A in
/// the top byte; false for anything else.
bool ParseDotted(const std::string& text, uint32_t& address);
/// A value as "A.B.C.D", top byte first.
std::string Dotted(uint32_t address);

}  // namespace vantrel::clients

#pragma once

#include <cstdint>
#include <string>

namespace vantrel::cli {

/// "A.B.C.D" (each 0 to 255) as a value with A in the top byte; false for anything else.
bool ParseDotted(const std::string& text, uint32_t& address);
/// A value as "A.B.C.D", top byte first.
std::string Dotted(uint32_t address);

}  // namespace vantrel::cli

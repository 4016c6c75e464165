#pragma once

#include <cstdint>
#include <string>

namespace vantrel::sim {

/// "A.B.C.D" (each 0..255, decimal) to a 32-bit value with A in the top byte; false for
/// anything else.
bool ParseDotted(const std::string& text, uint32_t& address);

}  // namespace vantrel::sim

#pragma once

#include <cstdint>
#include <string>

#include "unit/unit_values.h"

namespace vantrel::clients {

/// The levels as the tool and the gateway name them: volume, lcd-brightness, lcd-contrast,
/// lcd-saturation.
const Level* FindLevel(const std::string& name);
const char* NameOf(Level level);
/// As a person reads it: "Volume", "LCD Brightness".
const char* LabelOf(Level level);

/// Digits only, within 0..highest.
bool ParseLevelValue(const std::string& text, std::int32_t highest, std::int32_t& value);

}  // namespace vantrel::clients

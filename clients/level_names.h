#pragma once

#include <cstdint>
#include <string>

#include "unit/unit_values.h"

namespace vantrel::clients {

/// Every level, by its number.
constexpr Level kAllLevels[] = {Level::Volume, Level::Brightness, Level::Contrast,
                                Level::Saturation};

/// The levels as the tool, the gateway's API and its Ember+ tree name them: volume,
/// lcd-brightness, lcd-contrast, lcd-saturation.
const Level* FindLevel(const std::string& name);
const char* NameOf(Level level);
/// The names above, separated by ", ", for a person choosing one.
std::string LevelNameList();
/// As a person reads it: "Volume", "LCD Brightness".
const char* LabelOf(Level level);

/// Digits only, within 0..highest.
bool ParseLevelValue(const std::string& text, std::int32_t highest, std::int32_t& value);

}  // namespace vantrel::clients

#include "clients/level_names.h"

namespace vantrel::cli {
namespace {

struct LevelName {
    const char* name;
    Level level;
};
constexpr LevelName kLevels[] = {{"volume", Level::Volume},
                                 {"lcd-brightness", Level::Brightness},
                                 {"lcd-contrast", Level::Contrast},
                                 {"lcd-saturation", Level::Saturation}};

}  // namespace

const Level* FindLevel(const std::string& name) {
    for (const LevelName& entry : kLevels) {
        if (name == entry.name) return &entry.level;
    }
    return nullptr;
}

const char* NameOf(Level level) {
    for (const LevelName& entry : kLevels) {
        if (entry.level == level) return entry.name;
    }
    return "level";
}

bool ParseLevelValue(const std::string& text, std::int32_t highest, std::int32_t& value) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    value = std::stoi(text);
    return value <= highest;
}

}  // namespace vantrel::cli

#include "clients/level_names.h"

namespace vantrel::clients {
namespace {

struct LevelName {
    const char* name;
    const char* label;
    Level level;
};
constexpr LevelName kLevels[] = {{"volume", "Volume", Level::Volume},
                                 {"lcd-brightness", "LCD Brightness", Level::Brightness},
                                 {"lcd-contrast", "LCD Contrast", Level::Contrast},
                                 {"lcd-saturation", "LCD Saturation", Level::Saturation}};

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

std::string LevelNameList() {
    std::string list;
    for (const LevelName& entry : kLevels)
        list += (list.empty() ? "" : ", ") + std::string(entry.name);
    return list;
}

const char* LabelOf(Level level) {
    for (const LevelName& entry : kLevels) {
        if (entry.level == level) return entry.label;
    }
    return "Level";
}

bool ParseLevelValue(const std::string& text, std::int32_t highest, std::int32_t& value) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    value = std::stoi(text);
    return value <= highest;
}

}  // namespace vantrel::clients

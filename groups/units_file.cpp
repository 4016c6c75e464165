#include "groups/units_file.h"

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include "clients/dotted_address.h"

namespace vantrel::groups {
namespace {

// Letters, digits and a few marks: no space, '#', ',', '=' or '!', which the line and the
// selectors use.
bool IsWord(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text) {
        const bool mark = c == '_' || c == '.' || c == ':' || c == '/' || c == '-';
        if (!std::isalnum(static_cast<unsigned char>(c)) && !mark) return false;
    }
    return true;
}

bool IsUnit(const std::string& word) {
    std::uint32_t address = 0;
    return (word[0] == '/' && IsWord(word)) || clients::ParseDotted(word, address);
}

// The words after the unit: `name=` and the labels.
bool TakeLabels(std::istringstream& words, UnitEntry& entry) {
    std::set<std::string> keys;
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos) return false;
        const std::string key = word.substr(0, equals);
        const std::string value = word.substr(equals + 1);
        if (!IsWord(key) || !IsWord(value) || !keys.insert(key).second) return false;
        if (key == "name") {
            entry.name = value;
        } else {
            entry.labels.emplace_back(key, value);
        }
    }
    return true;
}

}  // namespace

const std::string* UnitEntry::Label(const std::string& key) const {
    for (const auto& [k, value] : labels) {
        if (k == key) return &value;
    }
    return nullptr;
}

std::vector<UnitEntry> UnitsFile::Units() const {
    std::vector<UnitEntry> units;
    for (const UnitsLine& line : lines) {
        if (line.entry) units.push_back(*line.entry);
    }
    return units;
}

std::string ErrorText(const std::string& path, const UnitsFileError& error) {
    const char* what = "";
    switch (error.fault) {
        case UnitsFileFault::kCannotRead:
            return "cannot read " + path;
        case UnitsFileFault::kNotAUnit:
            what = "neither an IPv4 address nor a serial port's path (/dev/ttyUSB0)";
            break;
        case UnitsFileFault::kBadLabel:
            what = "after the unit, only name=NAME and key=value labels, each key once";
            break;
        case UnitsFileFault::kNamedTwice:
            what = "a unit or a name that an earlier line has";
            break;
    }
    return path + " line " + std::to_string(error.line) + ": " + what + ": " + error.text;
}

Checked<UnitsFile, UnitsFileError> ParseUnitsFile(const std::string& text) {
    UnitsFile file;
    std::set<std::string> seen;  // units and names: a selector finds a unit by either
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        UnitsLine parsed;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) parsed.comment = line.substr(hash);
        std::string trimmed = line.substr(0, hash);
        trimmed.erase(0, trimmed.find_first_not_of(" \t"));
        trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
        std::istringstream words(trimmed);
        std::string unit;
        if (words >> unit) {
            if (!IsUnit(unit)) return UnitsFileError{UnitsFileFault::kNotAUnit, number, unit};
            UnitEntry entry{unit, "", {}};
            if (!TakeLabels(words, entry)) {
                return UnitsFileError{UnitsFileFault::kBadLabel, number, trimmed};
            }
            if (!seen.insert(unit).second ||
                (!entry.name.empty() && !seen.insert(entry.name).second)) {
                return UnitsFileError{UnitsFileFault::kNamedTwice, number, trimmed};
            }
            parsed.entry = std::move(entry);
        }
        file.lines.push_back(std::move(parsed));
    }
    return file;
}

Checked<UnitsFile, UnitsFileError> ReadUnitsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return UnitsFileError{UnitsFileFault::kCannotRead, 0, path};
    std::ostringstream text;
    text << in.rdbuf();
    return ParseUnitsFile(text.str());
}

std::string FormatUnitsFile(const UnitsFile& file) {
    std::string text;
    for (const UnitsLine& line : file.lines) {
        if (line.entry) {
            text += line.entry->unit;
            if (!line.entry->name.empty()) text += " name=" + line.entry->name;
            for (const auto& [key, value] : line.entry->labels) text += " " + key + "=" + value;
            if (!line.comment.empty()) text += "  ";
        }
        text += line.comment + "\n";
    }
    return text;
}

WriteStep WriteUnitsFile(const std::string& path, const UnitsFile& file, FileCalls& calls) {
    return WriteFileSafely(path, FormatUnitsFile(file), calls);
}

}  // namespace vantrel::groups

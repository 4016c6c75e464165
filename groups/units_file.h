#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "groups/checked.h"
#include "groups/safe_file.h"

namespace vantrel::groups {

/// A unit's labels, `key=value`, in the order its line gives them.
using Labels = std::vector<std::pair<std::string, std::string>>;

/// One unit of the units file.
struct UnitEntry {
    std::string unit;  // its console's A.B.C.D, or a serial port's path (/dev/ttyUSB0)
    std::string name;  // "" when it has none
    Labels labels;

    bool Serial() const { return !unit.empty() && unit[0] == '/'; }
    /// The label's value; nullptr when the unit has no such label.
    const std::string* Label(const std::string& key) const;
};

/// A line of the file: a unit, or only a comment or a blank. A comment after a unit stays
/// with it, so that the file reads as its author wrote it after a write.
struct UnitsLine {
    std::optional<UnitEntry> entry;
    std::string comment;  // from '#' to the end of the line; "" when there is none
};

struct UnitsFile {
    std::vector<UnitsLine> lines;

    std::vector<UnitEntry> Units() const;
};

enum class UnitsFileFault : std::uint8_t {
    kCannotRead,
    kNotAUnit,    // the line's first word is neither A.B.C.D nor a path
    kBadLabel,    // a word after it is not key=value, or a key is given twice
    kNamedTwice,  // a unit or a name that an earlier line has
};

/// What is wrong, and where: the line's number (from 1; 0 for the whole file) and its text.
struct UnitsFileError {
    UnitsFileFault fault;
    int line = 0;
    std::string text;
};

/// "units.txt line 3: neither an IPv4 address nor a serial port's path ...: 10.0.0" for a person.
std::string ErrorText(const std::string& path, const UnitsFileError& error);

/// Per line: the unit, an optional `name=NAME` and any `key=value` labels, separated by
/// spaces or tabs; `#` starts a comment. Keys and values are letters, digits and `_.:/-`.
Checked<UnitsFile, UnitsFileError> ParseUnitsFile(const std::string& text);
Checked<UnitsFile, UnitsFileError> ReadUnitsFile(const std::string& path);
/// The file as ParseUnitsFile reads it back: a unit's line is written as
/// `UNIT name=NAME key=value ...  # comment`.
std::string FormatUnitsFile(const UnitsFile& file);
/// FormatUnitsFile, written safely (safe_file.h).
WriteStep WriteUnitsFile(const std::string& path, const UnitsFile& file, FileCalls& calls);

}  // namespace vantrel::groups

#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "unit/outcome.h"
#include "unit_link/unit_checks.h"

namespace vantrel::clients {

using WallTime = std::chrono::system_clock::time_point;

/// A moment as UTC "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string TimeText(WallTime time);

/// The field of the status record that holds lamp `lamp` (0 Solo Left, 1 Solo Right, 2 Mix-Down).
const char* LampField(std::uint8_t lamp);
/// The input or meter mode a status block's value shows, by its button's label; "none" for an
/// input with no button. A meter mode other than 0 shows as DPPM.
const char* InputLabel(std::uint8_t input);
const char* MeterModeLabel(std::uint8_t mode);

/// A status read as a block of lines, one value each.
std::string StatusText(const std::string& unit, const UnitReading& reading, WallTime readAt);
/// The same as one line, for --watch.
std::string StatusLine(const std::string& unit, const UnitReading& reading, WallTime readAt);
nlohmann::json StatusJson(const std::string& unit, const UnitReading& reading, WallTime readAt);
/// The network settings as one line.
std::string NetworkLine(const std::string& unit, const NetworkSettings& settings);

/// A serial unit's versions before and after an update:
/// "versions main V2.05 -> V2.06, net V1.10 -> V1.10"; one that was not read is "unread".
std::string VersionsNote(const FirmwareVersions& before, const FirmwareVersions& after);

/// What went wrong, and the system's own text where it has one: "no reply (Fail!)".
std::string FaultNote(const Failure& failure);
/// What was missing, then its FaultNote.
std::string FailureNote(const Failure& failure, Shortfall shortfall);
/// What a confirmed check says beyond "done": how a level ended, a button that is not reported.
std::string DoneNote(const Check& check, const char* levelName);

}  // namespace vantrel::clients

#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "gateway/cluster/etcd_client.h"

namespace vantrel::gateway::cluster {

// The parts of etcd's JSON answers. The gateway leaves out a part that holds its default, and
// writes 64-bit numbers as strings; each reader gives none when a part is there but malformed.

/// False, or "", when the part is left out or is not a flag, or not a text.
bool Flag(const nlohmann::json& object, const char* name);
std::string Text(const nlohmann::json& object, const char* name);
std::optional<std::int64_t> Number(const nlohmann::json& object, const char* name);
/// The revision in the answer's header.
std::optional<std::int64_t> Revision(const nlohmann::json& answer);
std::optional<KeyValue> ReadKeyValue(const nlohmann::json& item);

}  // namespace vantrel::gateway::cluster

#pragma once

#include <optional>
#include <string>

namespace vantrel::gateway::cluster {

/// Standard base64 with padding, as etcd's JSON gateway writes keys and values.
std::string Base64(const std::string& bytes);
/// None when `text` is not base64.
std::optional<std::string> FromBase64(const std::string& text);

}  // namespace vantrel::gateway::cluster

#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace vantrel::gateway {

/// The units that other gateways drive, as their owners last published them, so that any
/// gateway shows every unit.
class OtherUnits {
  public:
    virtual ~OtherUnits() = default;
    /// Each unit published, by its name in the API, as GET /api/units/{unit} gives it there.
    virtual std::map<std::string, nlohmann::json> States() const = 0;
    /// One of them; none when its owner has published none.
    virtual std::optional<nlohmann::json> StateOf(const std::string& unit) const = 0;
};

}  // namespace vantrel::gateway

#pragma once

#include <cstdint>
#include <string>

namespace vantrel::gateway {

/// Where a unit is driven from when several gateways share the units: each unit has one owner
/// at a time, and only its owner's link sends it a line.
enum class Ownership : std::uint8_t {
    kHere,       // this gateway drives it
    kElsewhere,  // another gateway does: a command for it is passed there
    kNobody,     // no gateway holds it now (its owner is gone and none has taken it over yet)
};

/// A gateway of the cluster, as the others reach it.
struct GatewayMember {
    std::string id;   // unique in the cluster
    std::string url;  // "http://127.0.0.2:8023" or https://...: its API
};

struct UnitOwner {
    Ownership where = Ownership::kHere;
    GatewayMember owner;  // with kElsewhere
};

/// Who owns each unit. A gateway alone has none of these, and owns every unit it holds.
class UnitOwners {
  public:
    virtual ~UnitOwners() = default;
    /// `unit` as the API names it.
    virtual UnitOwner OwnerOf(const std::string& unit) const = 0;
};

}  // namespace vantrel::gateway

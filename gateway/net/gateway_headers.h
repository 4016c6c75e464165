#pragma once

// The headers by which the gateways of a cluster pass requests to one another.

namespace vantrel::gateway {

/// The header a request passed on by another gateway carries, naming it: such a request is
/// answered where it arrives, never passed on again.
constexpr const char* kForwardedBy = "X-Vantrel-Forwarded-By";
/// The header of a group's part passed on, naming the group: the gateway that runs it records
/// it as the group's and answers it as the group's entry for the unit.
constexpr const char* kPartOf = "X-Vantrel-Part-Of";
/// The header naming whom a command is run for when the one asking has no token of this
/// cluster's: "NAME ADDRESS" (an Ember+ consumer: "ember 127.0.0.1"), run as an operator's.
constexpr const char* kOnBehalfOf = "X-Vantrel-On-Behalf-Of";
/// The header carrying the key the gateways of a cluster share: the three above are taken only
/// from a request that carries it.
constexpr const char* kClusterKey = "X-Vantrel-Cluster-Key";

}  // namespace vantrel::gateway

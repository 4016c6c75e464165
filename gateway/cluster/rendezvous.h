#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::gateway::cluster {

/// How strongly `member` draws `unit`: a well-mixed hash of the two, the same on every gateway.
std::uint64_t RendezvousWeight(const std::string& member, const std::string& unit);

/// The member that should own `unit`: the one that draws it most strongly. Every gateway that
/// sees the same members picks the same one, the units spread evenly, and a member that joins
/// or leaves moves only the units it wins or held. "" with no member.
std::string RendezvousOwner(const std::vector<std::string>& members, const std::string& unit);

}  // namespace vantrel::gateway::cluster

#include "gateway/cluster/rendezvous.h"

namespace vantrel::gateway::cluster {
namespace {

// FNV-1a, byte by byte.
std::uint64_t Fnv(const std::string& text, std::uint64_t hash) {
    for (const unsigned char byte : text) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// splitmix64's finish: FNV alone leaves similar names with close hashes.
std::uint64_t Mix(std::uint64_t value) {
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

}  // namespace

std::uint64_t RendezvousWeight(const std::string& member, const std::string& unit) {
    // The 0 byte between them keeps "ab"+"c" apart from "a"+"bc".
    const std::uint64_t hash = Fnv(std::string(1, '\0'), Fnv(member, 0xcbf29ce484222325ULL));
    return Mix(Fnv(unit, hash));
}

std::string RendezvousOwner(const std::vector<std::string>& members, const std::string& unit) {
    std::string best;
    std::uint64_t bestWeight = 0;
    for (const std::string& member : members) {
        const std::uint64_t weight = RendezvousWeight(member, unit);
        // Ties, however unlikely, go the same way everywhere.
        if (best.empty() || weight > bestWeight || (weight == bestWeight && member < best)) {
            best = member;
            bestWeight = weight;
        }
    }
    return best;
}

}  // namespace vantrel::gateway::cluster

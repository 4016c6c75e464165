#include "gateway/emberplus/ember_access.h"

#include <algorithm>

#include "clients/dotted_address.h"

namespace vantrel::gateway {
namespace {

bool ParseCidr(const std::string& part, Cidr& block) {
    const std::size_t slash = part.find('/');
    std::uint32_t address = 0;
    int bits = 32;
    bool ok = clients::ParseDotted(part.substr(0, slash), address);
    if (ok && slash != std::string::npos) {
        const std::string digits = part.substr(slash + 1);
        ok = !digits.empty() && digits.size() <= 2 &&
             digits.find_first_not_of("0123456789") == std::string::npos;
        if (ok) bits = std::stoi(digits);
        ok = ok && bits <= 32;
    }
    if (!ok) return false;
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    block = {address & mask, mask};
    return true;
}

}  // namespace

bool ParseEmberAllow(const std::string& text, std::vector<EmberAllow>& allow, std::string& why) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        start = comma + 1;
        const std::size_t equals = part.find('=');
        EmberAllow entry;
        if (!ParseCidr(part.substr(0, equals), entry.block)) {
            why = "not an address block A.B.C.D/N: " + part;
            return false;
        }
        const std::string role = equals == std::string::npos ? "" : part.substr(equals + 1);
        if (role == "viewer") entry.role = EmberRole::kViewer;
        if (equals != std::string::npos && role != "viewer" && role != "operator") {
            why = "not a role (viewer or operator): " + part;
            return false;
        }
        allow.push_back(entry);
    }
    return true;
}

bool NeedsAllowList(const std::string& host) {
    std::uint32_t address = 0;
    return !clients::ParseDotted(host, address) || (address >> 24) != 127;
}

std::optional<EmberRole> RoleOf(const std::vector<EmberAllow>& allow, std::uint32_t address) {
    if (allow.empty()) return EmberRole::kOperator;
    const EmberAllow* narrowest = nullptr;
    for (const EmberAllow& entry : allow) {
        const bool holds = (address & entry.block.mask) == entry.block.network;
        // A longer mask, read as a number, is a larger one.
        if (holds && (!narrowest || entry.block.mask > narrowest->block.mask)) narrowest = &entry;
    }
    if (!narrowest) return std::nullopt;
    return narrowest->role;
}

}  // namespace vantrel::gateway

#include "gateway/ember_access.h"

#include "clients/dotted_address.h"

namespace vantrel::gateway {

bool ParseCidrs(const std::string& text, std::vector<Cidr>& blocks, std::string& why) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        start = comma + 1;
        const std::size_t slash = part.find('/');
        std::uint32_t address = 0;
        int bits = 32;
        bool ok = cli::ParseDotted(part.substr(0, slash), address);
        if (ok && slash != std::string::npos) {
            const std::string digits = part.substr(slash + 1);
            ok = !digits.empty() && digits.size() <= 2 &&
                 digits.find_first_not_of("0123456789") == std::string::npos;
            if (ok) bits = std::stoi(digits);
            ok = ok && bits <= 32;
        }
        if (!ok) {
            why = "not an address block A.B.C.D/N: " + part;
            return false;
        }
        const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
        blocks.push_back({address & mask, mask});
    }
    return true;
}

bool NeedsAllowList(const std::string& host) {
    std::uint32_t address = 0;
    return !cli::ParseDotted(host, address) || (address >> 24) != 127;
}

bool InBlocks(const std::vector<Cidr>& blocks, std::uint32_t address) {
    for (const Cidr& block : blocks) {
        if ((address & block.mask) == block.network) return true;
    }
    return false;
}

}  // namespace vantrel::gateway

#include "gateway/access.h"

#include <fstream>

namespace vantrel::gateway {

bool NeedsToken(const std::string& host) { return host != "127.0.0.1"; }

std::optional<std::string> ReadTokenFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::nullopt;
    return line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
}

bool Authorized(const std::string& header, const std::string& token) {
    const std::string expected = "Bearer " + token;
    if (header.size() != expected.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < header.size(); ++i) {
        difference |= static_cast<unsigned char>(header[i] ^ expected[i]);
    }
    return difference == 0;
}

bool NeedsAuthorization(const std::string& path) {
    return path.rfind("/api/", 0) == 0 || path == "/metrics";
}

}  // namespace vantrel::gateway

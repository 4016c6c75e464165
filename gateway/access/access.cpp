#include "gateway/access/access.h"

#include <strings.h>

#include "gateway/system/owner_only_file.h"

namespace vantrel::gateway {

bool NeedsToken(const std::string& host) { return host != "127.0.0.1"; }

std::optional<std::string> ReadTokenFile(const std::string& path, std::string& why) {
    const std::optional<std::string> text = ReadOwnerOnly(path, why);
    if (!text) return std::nullopt;
    const std::string line = text->substr(0, text->find('\n'));
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    const std::string token =
        first == std::string::npos ? "" : line.substr(first, last + 1 - first);
    if (token.size() < kShortestToken) {
        why = "the token in " + path + " is shorter than " + std::to_string(kShortestToken) +
              " characters";
        return std::nullopt;
    }
    return token;
}

bool Authorized(const std::string& header, const std::string& token) {
    static const std::string kScheme = "Bearer ";
    if (header.size() != kScheme.size() + token.size() ||
        strncasecmp(header.c_str(), kScheme.c_str(), kScheme.size()) != 0) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < token.size(); ++i) {
        difference |= static_cast<unsigned char>(header[kScheme.size() + i] ^ token[i]);
    }
    return difference == 0;
}

bool LoopbackHost(const std::string& host, int port) {
    const std::string suffix = ":" + std::to_string(port);
    if (host.size() <= suffix.size() ||
        host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    const std::string name = host.substr(0, host.size() - suffix.size());
    return name == "127.0.0.1" || name == "[::1]" || strcasecmp(name.c_str(), "localhost") == 0;
}

bool OwnOrigin(const std::optional<std::string>& origin, const std::string& scheme,
               const std::string& host) {
    return !origin || strcasecmp(origin->c_str(), (scheme + "://" + host).c_str()) == 0;
}

}  // namespace vantrel::gateway

#include "gateway/access.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "gateway/unique_fd.h"

namespace vantrel::gateway {

bool NeedsToken(const std::string& host) { return host != "127.0.0.1"; }

std::optional<std::string> ReadOwnerOnly(const std::string& path, std::string& why,
                                         int* unreadable) {
    // The descriptor opened is the one checked and read, so a file swapped in or reached through
    // a link between a check and the read is never taken unchecked. O_NONBLOCK: a FIFO put in
    // the file's place must not hang the reload.
    const UniqueFd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    const auto cannotRead = [&](int error) {
        why = "cannot read " + path + " (" + std::strerror(error) + ")";
        if (unreadable) *unreadable = error;
        return std::nullopt;
    };
    if (!file.Open() || fstat(file.Get(), &status) != 0) return cannotRead(errno);
    if (!S_ISREG(status.st_mode)) {
        why = path + " is not a regular file";
        return std::nullopt;
    }
    if (status.st_uid != geteuid()) {
        why = path + " is owned by uid " + std::to_string(status.st_uid) +
              ", not by the gateway's user (uid " + std::to_string(geteuid()) + ")";
        return std::nullopt;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        why = "others than its owner may read " + path + ": chmod 600 it";
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(file.Get(), buffer, sizeof buffer);
        if (got == 0) return text;
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (errno != EINTR) {
            return cannotRead(errno);
        }
    }
}

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

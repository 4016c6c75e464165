#include "gateway/system/owner_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "gateway/system/unique_fd.h"

namespace vantrel::gateway {

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

}  // namespace vantrel::gateway

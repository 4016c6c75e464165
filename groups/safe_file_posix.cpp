#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "groups/safe_file.h"

namespace vantrel::groups {

int SystemFiles::Create(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

bool SystemFiles::Write(int file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SystemFiles::Sync(int file) { return ::fsync(file) == 0; }

bool SystemFiles::Close(int file) { return ::close(file) == 0; }

bool SystemFiles::Rename(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool SystemFiles::SyncFolder(const std::string& folder) {
    const int file = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (file < 0) return false;
    const bool synced = ::fsync(file) == 0;
    ::close(file);
    return synced;
}

void SystemFiles::Remove(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace vantrel::groups

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

#include "groups/safe_file.h"

namespace vantrel::groups {

int SystemFiles::Create(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool SystemFiles::Write(int file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n =
            ::_write(file, bytes.data() + done, static_cast<unsigned>(bytes.size() - done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SystemFiles::Sync(int file) { return ::_commit(file) == 0; }

bool SystemFiles::Close(int file) { return ::_close(file) == 0; }

// MOVEFILE_WRITE_THROUGH returns once the move is on the disk.
bool SystemFiles::Rename(const std::string& from, const std::string& to) {
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Windows has no flush of a folder; the write-through move above stands for it.
bool SystemFiles::SyncFolder(const std::string&) { return true; }

void SystemFiles::Remove(const std::string& path) { std::remove(path.c_str()); }

}  // namespace vantrel::groups

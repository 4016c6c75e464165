#include "panel/address_file.h"

#include <windows.h>

#include <cstdio>
#include <memory>

namespace vantrel {

namespace {

constexpr DWORD kPathBuffer = 256;
const char kFileName[] = "ip";
const char kFreshSuffix[] = ".new";  // the next content, until it replaces the file

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::string AddressFilePath() {
    char path[kPathBuffer];
    const DWORD length = GetTempPathA(kPathBuffer, path);
    // GetTempPathA gives the size it needs, terminator included, when the buffer is too small.
    if (length == 0 || length + sizeof kFileName > kPathBuffer) return {};
    return std::string(path, length) + kFileName;
}

uint32_t LoadAddressFile(const std::string& path) {
    if (path.empty()) return kDefaultUnitAddress;
    if (File file{std::fopen(path.c_str(), "rb")}) {
        unsigned int address = 0;
        std::fscanf(file.get(), "%u", &address);  // a file without a number leaves 0
        return address;
    }
    StoreAddressFile(path, kDefaultUnitAddress);
    return kDefaultUnitAddress;
}

bool StoreAddressFile(const std::string& path, uint32_t address) {
    if (path.empty()) return false;
    // The text goes to a file beside the old one, which is replaced only once the new one is
    // complete: a write that fails on the way leaves the previous address in place.
    const std::string fresh = path + kFreshSuffix;
    {
        File file{std::fopen(fresh.c_str(), "wb")};
        if (!file) return false;
        const bool written =
            std::fprintf(file.get(), "%u", static_cast<unsigned int>(address)) > 0 &&
            std::fflush(file.get()) == 0;
        if (std::fclose(file.release()) != 0 || !written) {
            DeleteFileA(fresh.c_str());
            return false;
        }
    }
    if (MoveFileExA(fresh.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    return true;
}

}  // namespace vantrel

#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace vantrel::testing {

/// A file with the given bytes in the temporary directory, removed when the object goes. Its
/// name carries the process's id, so that runs side by side (two builds' tests) each have
/// their own.
class TempFile {
  public:
    TempFile(const std::string& name, const std::string& bytes)
        : m_path((std::filesystem::temp_directory_path() /
                  ("vantrel-" + std::to_string(ProcessId()) + "-" + name))
                     .string()) {
        std::FILE* file = std::fopen(m_path.c_str(), "wb");
        if (file) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return m_path; }

  private:
    static int ProcessId() {
#ifdef _WIN32
        return _getpid();
#else
        return static_cast<int>(getpid());
#endif
    }

    std::string m_path;
};

}  // namespace vantrel::testing

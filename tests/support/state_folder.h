#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace vantrel::testing {

/// A folder of its own in the temporary directory, with a units file in it, removed when the
/// object goes.
class StateFolder {
  public:
    explicit StateFolder(const std::string& units)
        : m_path(std::filesystem::temp_directory_path() /
                 ("vantrel-state-" + std::to_string(getpid()) + "-" + std::to_string(++s_made))) {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
        Put("units", units);
    }
    ~StateFolder() { std::filesystem::remove_all(m_path); }
    StateFolder(const StateFolder&) = delete;
    StateFolder& operator=(const StateFolder&) = delete;

    std::string Path(const std::string& name = "") const { return (m_path / name).string(); }
    void Put(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories((m_path / name).parent_path());
        std::ofstream(m_path / name, std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(m_path / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

  private:
    static inline int s_made = 0;
    std::filesystem::path m_path;
};

}  // namespace vantrel::testing

#pragma once

#include <windows.h>

#include <string>

namespace vantrel::testing {

/// Points the process's temporary directory (the TMP variable that GetTempPathA reads first)
/// at a fresh, empty folder for one test, and puts the old value back afterwards.
class TempDirScope {
  public:
    explicit TempDirScope(const std::string& name) {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        m_dir = std::string(base) + name;
        Clear();
        CreateDirectoryA(m_dir.c_str(), nullptr);
        char old[MAX_PATH] = {};
        m_hadOld = GetEnvironmentVariableA("TMP", old, MAX_PATH) > 0;
        m_old = old;
        SetEnvironmentVariableA("TMP", m_dir.c_str());
    }
    TempDirScope(const TempDirScope&) = delete;
    TempDirScope& operator=(const TempDirScope&) = delete;
    ~TempDirScope() {
        SetEnvironmentVariableA("TMP", m_hadOld ? m_old.c_str() : nullptr);
        Clear();
    }

    /// The folder, ending in a backslash as GetTempPathA gives it.
    std::string Dir() const { return m_dir + "\\"; }
    std::string AddressFile() const { return Dir() + "ip"; }

  private:
    void Clear() {
        DeleteFileA((m_dir + "\\ip").c_str());
        DeleteFileA((m_dir + "\\ip.new").c_str());
        RemoveDirectoryA(m_dir.c_str());
    }

    std::string m_dir;
    std::string m_old;
    bool m_hadOld = false;
};

}  // namespace vantrel::testing

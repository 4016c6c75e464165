#pragma once

#include <string>

#include "groups/safe_file.h"

namespace vantrel::testing {

/// The system's file calls, with one step of a safe write made to fail.
class FailingFiles : public groups::SystemFiles {
  public:
    using WriteStep = groups::WriteStep;
    explicit FailingFiles(WriteStep failing) : m_failing(failing) {}
    int Create(const std::string& path) override {
        return m_failing == WriteStep::kCreate ? -1 : SystemFiles::Create(path);
    }
    // A full disk: half the bytes are taken.
    bool Write(int file, const std::string& bytes) override {
        if (m_failing != WriteStep::kWrite) return SystemFiles::Write(file, bytes);
        SystemFiles::Write(file, bytes.substr(0, bytes.size() / 2));
        return false;
    }
    bool Sync(int file) override {
        return m_failing != WriteStep::kSync && SystemFiles::Sync(file);
    }
    bool Close(int file) override {
        return SystemFiles::Close(file) && m_failing != WriteStep::kClose;
    }
    bool Rename(const std::string& from, const std::string& to) override {
        return m_failing != WriteStep::kRename && SystemFiles::Rename(from, to);
    }
    bool SyncFolder(const std::string& folder) override {
        return m_failing != WriteStep::kSyncFolder && SystemFiles::SyncFolder(folder);
    }

  private:
    WriteStep m_failing;
};

}  // namespace vantrel::testing

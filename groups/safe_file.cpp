#include "groups/safe_file.h"

#include <filesystem>

namespace vantrel::groups {
namespace {

// The file beside the target, closed and removed unless it was renamed into place.
class Beside {
  public:
    Beside(FileCalls& calls, std::string path)
        : m_calls(calls), m_path(std::move(path)), m_file(calls.Create(m_path)) {}
    ~Beside() {
        if (m_file >= 0) m_calls.Close(m_file);
        if (!m_renamed) m_calls.Remove(m_path);
    }
    Beside(const Beside&) = delete;
    Beside& operator=(const Beside&) = delete;

    int File() const { return m_file; }
    const std::string& Path() const { return m_path; }
    bool Close() {
        const int file = m_file;
        m_file = -1;
        return m_calls.Close(file);
    }
    void Renamed() { m_renamed = true; }

  private:
    FileCalls& m_calls;
    std::string m_path;
    int m_file;
    bool m_renamed = false;
};

}  // namespace

const char* WriteStepText(WriteStep step) {
    switch (step) {
        case WriteStep::kNone:
            return "written";
        case WriteStep::kCreate:
            return "cannot make the new file beside it";
        case WriteStep::kWrite:
            return "cannot write the new file";
        case WriteStep::kSync:
            return "cannot flush the new file to the disk";
        case WriteStep::kClose:
            return "cannot close the new file";
        case WriteStep::kRename:
            return "cannot move the new file into place";
        case WriteStep::kSyncFolder:
            return "moved into place, but the folder could not be flushed to the disk";
    }
    return "unknown";
}

WriteStep WriteFileSafely(const std::string& path, const std::string& bytes, FileCalls& calls) {
    Beside beside(calls, path + ".new");
    if (beside.File() < 0) return WriteStep::kCreate;
    if (!calls.Write(beside.File(), bytes)) return WriteStep::kWrite;
    if (!calls.Sync(beside.File())) return WriteStep::kSync;
    if (!beside.Close()) return WriteStep::kClose;
    if (!calls.Rename(beside.Path(), path)) return WriteStep::kRename;
    beside.Renamed();
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    if (!calls.SyncFolder(folder)) return WriteStep::kSyncFolder;
    return WriteStep::kNone;
}

WriteStep WriteFileSafely(const std::string& path, const std::string& bytes) {
    SystemFiles calls;
    return WriteFileSafely(path, bytes, calls);
}

}  // namespace vantrel::groups

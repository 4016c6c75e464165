#pragma once

#include <cstdint>
#include <string>

namespace vantrel::groups {

/// The file system calls that a safe write makes, each one virtual so that a test can make any
/// of them fail. Files are numbered as the C library numbers them; -1 is none.
class FileCalls {
  public:
    virtual ~FileCalls() = default;
    /// Opens `path` for writing, made or emptied.
    virtual int Create(const std::string& path) = 0;
    virtual bool Write(int file, const std::string& bytes) = 0;
    /// Returns once the file's bytes are on the disk.
    virtual bool Sync(int file) = 0;
    virtual bool Close(int file) = 0;
    /// Puts `from` in the place of `to` in one step: a reader sees one or the other.
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    /// Returns once the folder's list of names (the rename) is on the disk.
    virtual bool SyncFolder(const std::string& folder) = 0;
    virtual void Remove(const std::string& path) = 0;
};

/// The operating system's calls.
class SystemFiles : public FileCalls {
  public:
    int Create(const std::string& path) override;
    bool Write(int file, const std::string& bytes) override;
    bool Sync(int file) override;
    bool Close(int file) override;
    bool Rename(const std::string& from, const std::string& to) override;
    bool SyncFolder(const std::string& folder) override;
    void Remove(const std::string& path) override;
};

/// The step of a safe write that failed.
enum class WriteStep : std::uint8_t { kNone, kCreate, kWrite, kSync, kClose, kRename, kSyncFolder };

/// A few words for a step, for reports.
const char* WriteStepText(WriteStep step);

/// Writes `bytes` to `path` so that a crash leaves the old file or the new one, never a torn
/// one: into a file beside it, flushed to the disk, renamed into place, and the folder flushed.
/// Before the rename a failure leaves the old file as it was (the file beside it is removed);
/// a failure of the folder's flush leaves the new file in place, not yet certain to outlive a
/// power cut. kNone when every step was done.
WriteStep WriteFileSafely(const std::string& path, const std::string& bytes, FileCalls& calls);
WriteStep WriteFileSafely(const std::string& path, const std::string& bytes);

}  // namespace vantrel::groups

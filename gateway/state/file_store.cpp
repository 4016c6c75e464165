#include "gateway/state/file_store.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

namespace vantrel::gateway {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A snapshot's name becomes a file's: no folder, no hidden file, nothing a shell quotes.
bool IsFileName(const std::string& name) {
    if (name.empty() || name.size() > 100 || name[0] == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    });
}

// The folder's flush failing leaves the new file in place, where a reader and the next start
// find it: the change is made, so it is not reported as one that failed.
std::optional<StoreError> Written(const std::string& path, groups::WriteStep step) {
    if (step == groups::WriteStep::kNone || step == groups::WriteStep::kSyncFolder) {
        return std::nullopt;
    }
    return StoreError{path + ": " + groups::WriteStepText(step)};
}

std::optional<StoreError> MadeFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return StoreError{folder + ": " + error.message()};
    return std::nullopt;
}

}  // namespace

FileStore::FileStore(std::string unitsFile, std::string folder, groups::FileCalls& calls)
    : m_unitsFile(std::move(unitsFile)), m_folder(std::move(folder)), m_calls(calls) {}

groups::FileCalls& FileStore::SystemCalls() {
    static groups::SystemFiles calls;
    return calls;
}

groups::Checked<groups::UnitsFile, StoreError> FileStore::LoadUnits() {
    auto read = groups::ReadUnitsFile(m_unitsFile);
    if (!read.Ok()) return StoreError{groups::ErrorText(m_unitsFile, read.GetError())};
    return std::move(read.Value());
}

std::optional<StoreError> FileStore::SaveUnits(const groups::UnitsFile& units) {
    return Written(m_unitsFile, groups::WriteUnitsFile(m_unitsFile, units, m_calls));
}

groups::Checked<std::vector<groups::Snapshot>, StoreError> FileStore::LoadSnapshots() {
    const fs::path folder = fs::path(m_folder) / "snapshots";
    std::vector<groups::Snapshot> snapshots;
    std::error_code error;
    if (!fs::exists(folder, error)) return snapshots;
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        // A ".new" file is a write that a crash cut short: the file it was for stands.
        if (entry.path().extension() == ".json") files.push_back(entry.path());
    }
    if (error) return StoreError{folder.string() + ": " + error.message()};
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        auto read = groups::ReadSnapshotFile(file.string());
        if (!read.Ok())
            return StoreError{file.string() + ": " + groups::ErrorText(read.GetError())};
        if (read.Value().name != file.stem().string()) {
            return StoreError{file.string() + ": holds the snapshot " + read.Value().name};
        }
        snapshots.push_back(std::move(read.Value()));
    }
    return snapshots;
}

std::optional<StoreError> FileStore::SaveSnapshot(const groups::Snapshot& snapshot) {
    if (!IsFileName(snapshot.name)) return StoreError{"not a snapshot's name: " + snapshot.name};
    const std::string folder = (fs::path(m_folder) / "snapshots").string();
    if (auto error = MadeFolder(folder)) return error;
    const std::string path = folder + "/" + snapshot.name + ".json";
    return Written(path, groups::WriteSnapshotFile(path, snapshot, m_calls));
}

std::optional<StoreError> FileStore::DeleteSnapshot(const std::string& name) {
    if (!IsFileName(name)) return StoreError{"not a snapshot's name: " + name};
    const fs::path folder = fs::path(m_folder) / "snapshots";
    const fs::path path = folder / (name + ".json");
    std::error_code error;
    if (!fs::remove(path, error)) {
        return StoreError{path.string() + ": " + (error ? error.message() : "no such snapshot")};
    }
    m_calls.SyncFolder(folder.string());
    return std::nullopt;
}

groups::Checked<Assignments, StoreError> FileStore::LoadAssignments() {
    const std::string path = (fs::path(m_folder) / "assignments.json").string();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code error;
        if (!fs::exists(path, error) && !error) return Assignments{};
        return StoreError{"cannot read " + path};
    }
    const json parsed = json::parse(in, nullptr, false);
    if (!parsed.is_object()) return StoreError{path + ": not a JSON object"};
    Assignments assignments;
    for (const auto& [unit, snapshot] : parsed.items()) {
        if (!snapshot.is_string())
            return StoreError{path + ": " + unit + ": not a snapshot's name"};
        assignments[unit] = snapshot.get<std::string>();
    }
    return assignments;
}

std::optional<StoreError> FileStore::SaveAssignments(const Assignments& assignments) {
    if (auto error = MadeFolder(m_folder)) return error;
    const std::string path = (fs::path(m_folder) / "assignments.json").string();
    return Written(path, groups::WriteFileSafely(path, json(assignments).dump(2) + "\n", m_calls));
}

}  // namespace vantrel::gateway

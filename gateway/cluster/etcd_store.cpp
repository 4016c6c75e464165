#include "gateway/cluster/etcd_store.h"

#include <nlohmann/json.hpp>

namespace vantrel::gateway::cluster {

using nlohmann::json;

namespace {

StoreError Failed(const std::string& key, const std::string& why) {
    return {"etcd key " + key + ": " + why};
}

}  // namespace

EtcdStore::EtcdStore(EtcdClient& etcd, std::string prefix)
    : m_etcd(etcd), m_prefix(std::move(prefix)) {}

groups::Checked<std::string, StoreError> EtcdStore::Read(const std::string& key) {
    const auto read = m_etcd.Get(key);
    if (!read.Ok()) return Failed(key, read.GetError().text);
    return read.Value().kvs.empty() ? std::string() : read.Value().kvs.front().value;
}

std::optional<StoreError> EtcdStore::Write(const std::string& key, const std::string& value) {
    const auto put = m_etcd.Put(key, value);
    if (!put.Ok()) return Failed(key, put.GetError().text);
    return std::nullopt;
}

groups::Checked<groups::UnitsFile, StoreError> EtcdStore::LoadUnits() {
    const std::string key = m_prefix + "units";
    const auto text = Read(key);
    if (!text.Ok()) return text.GetError();
    auto units = groups::ParseUnitsFile(text.Value());
    if (!units.Ok()) return StoreError{groups::ErrorText(key, units.GetError())};
    return std::move(units.Value());
}

std::optional<StoreError> EtcdStore::SaveUnits(const groups::UnitsFile& units) {
    return Write(m_prefix + "units", groups::FormatUnitsFile(units));
}

groups::Checked<std::vector<groups::Snapshot>, StoreError> EtcdStore::LoadSnapshots() {
    const std::string prefix = m_prefix + "snapshots/";
    const auto read = m_etcd.GetPrefix(prefix);
    if (!read.Ok()) return Failed(prefix, read.GetError().text);
    std::vector<groups::Snapshot> snapshots;
    for (const KeyValue& kv : read.Value().kvs) {
        const json parsed = json::parse(kv.value, nullptr, false);
        if (parsed.is_discarded()) return Failed(kv.key, "not JSON");
        auto snapshot = groups::SnapshotFromJson(parsed);
        if (!snapshot.Ok()) return Failed(kv.key, groups::ErrorText(snapshot.GetError()));
        snapshots.push_back(std::move(snapshot.Value()));
    }
    return snapshots;
}

std::optional<StoreError> EtcdStore::SaveSnapshot(const groups::Snapshot& snapshot) {
    return Write(m_prefix + "snapshots/" + snapshot.name, groups::SnapshotJson(snapshot).dump());
}

std::optional<StoreError> EtcdStore::DeleteSnapshot(const std::string& name) {
    const std::string key = m_prefix + "snapshots/" + name;
    const auto deleted = m_etcd.Delete(key);
    if (!deleted.Ok()) return Failed(key, deleted.GetError().text);
    return std::nullopt;
}

groups::Checked<Assignments, StoreError> EtcdStore::LoadAssignments() {
    const std::string key = m_prefix + "assignments";
    const auto text = Read(key);
    if (!text.Ok()) return text.GetError();
    if (text.Value().empty()) return Assignments();
    const json parsed = json::parse(text.Value(), nullptr, false);
    if (!parsed.is_object()) return Failed(key, "not a JSON object");
    Assignments assignments;
    for (const auto& [unit, snapshot] : parsed.items()) {
        if (!snapshot.is_string()) return Failed(key, "the snapshot of " + unit + " is not a name");
        assignments[unit] = snapshot.get<std::string>();
    }
    return assignments;
}

std::optional<StoreError> EtcdStore::SaveAssignments(const Assignments& assignments) {
    return Write(m_prefix + "assignments", json(assignments).dump());
}

}  // namespace vantrel::gateway::cluster

#include "gateway/cluster/cluster_key.h"

#include <openssl/rand.h>

#include <cstdio>

namespace vantrel::gateway::cluster {
namespace {

constexpr int kKeyBytes = 32;

// A fresh key as hex text; empty when the system gives no random bytes.
std::string FreshKey() {
    unsigned char bytes[kKeyBytes];
    if (RAND_bytes(bytes, kKeyBytes) != 1) return "";
    std::string text;
    for (const unsigned char byte : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text += hex;
    }
    return text;
}

EtcdResult<std::string> Stored(EtcdClient& etcd, const std::string& key) {
    const EtcdResult<RangeRead> read = etcd.Get(key);
    if (!read.Ok()) return read.GetError();
    if (read.Value().kvs.empty() || read.Value().kvs.front().value.empty()) return std::string();
    return read.Value().kvs.front().value;
}

}  // namespace

EtcdResult<std::string> ClusterKey(EtcdClient& etcd, const std::string& prefix) {
    const std::string name = prefix + "cluster-key";
    EtcdResult<std::string> stored = Stored(etcd, name);
    if (!stored.Ok() || !stored.Value().empty()) return stored;
    const std::string fresh = FreshKey();
    if (fresh.empty()) {
        return EtcdError{EtcdFault::kRejected, "no random bytes for the cluster's key"};
    }
    const EtcdResult<std::int64_t> put = etcd.PutIf(name, Condition::Absent(), fresh);
    if (!put.Ok()) return put.GetError();
    // Another gateway put its key first: that one is the cluster's.
    if (put.Value() == 0) return Stored(etcd, name);
    return fresh;
}

}  // namespace vantrel::gateway::cluster

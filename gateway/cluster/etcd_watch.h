#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gateway/cluster/etcd_client.h"
#include "gateway/net/http_client.h"

namespace vantrel::gateway::cluster {

struct WatchEvent {
    bool deleted = false;
    KeyValue kv;  // a deleted key's value is empty
};

/// The changes to every key under a prefix, from a revision on, as etcd's streaming watch gives
/// them, on a thread of its own. It ends when etcd ends it or its connection breaks (`ended` says
/// why; a new watch from the revision after the last one seen misses nothing) or when it goes.
/// A quiet watch is not a broken one, so it waits for changes without a limit: whoever learns
/// otherwise that etcd is gone (the lease's renewals failing) replaces it.
class EtcdWatch {
  public:
    /// Each answer's changes, with the revision they bring the store to.
    using Changes = std::function<void(const std::vector<WatchEvent>&, std::int64_t revision)>;
    using Ended = std::function<void(const EtcdError&)>;

    /// `limit` bounds the connection and etcd's first answer; the callbacks run on the watch's
    /// thread. `etcd` (whose TLS and token it takes) outlives it. A watch etcd refuses for its
    /// token is made again, once, with a new one.
    EtcdWatch(EtcdClient& etcd, const HttpPlace& member, const std::string& prefix,
              std::int64_t fromRevision, std::chrono::milliseconds limit, Changes changes,
              Ended ended);
    ~EtcdWatch();
    EtcdWatch(const EtcdWatch&) = delete;
    EtcdWatch& operator=(const EtcdWatch&) = delete;

  private:
    void Run(const HttpPlace& member, const std::string& request, std::chrono::milliseconds limit);
    /// Follows the changes with `token` until the watch ends: why it ended, none when it was
    /// stopped.
    std::optional<EtcdError> Follow(const HttpPlace& member, const std::string& request,
                                    std::chrono::milliseconds limit, const std::string& token);
    /// One line of the stream; an error when etcd ends the watch or the line is malformed.
    std::optional<EtcdError> Take(const std::string& line);

    EtcdClient& m_etcd;
    Changes m_changes;
    Ended m_ended;
    HttpClient m_http;
    std::atomic<bool> m_going{false};
    std::thread m_thread;  // last: it starts when the rest is made
};

}  // namespace vantrel::gateway::cluster

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ember/glow.h"
#include "gateway/audit_log.h"
#include "gateway/ember_access.h"
#include "gateway/event_hub.h"
#include "gateway/stream_server.h"
#include "gateway/unit_command.h"
#include "gateway/units.h"

namespace vantrel::gateway {

/// Who may use the provider, and how.
struct EmberOptions {
    std::string host = "127.0.0.1";
    int port = 9000;  // 0: any free port
    /// The clients admitted; empty admits every client (loopback only: see NeedsToken).
    std::vector<Cidr> allow;
    bool readOnly = false;
};

/// The units as an Ember+ tree (ember_tree.h). A client that asks for a node's directory gets
/// every later change of what the node holds. Sets and invokes run through the unit's command
/// queue as the API's commands do, written to the audit log as "ember" from the client's
/// address, and are answered with what the unit reports afterwards.
class EmberProvider : public StreamService {
  public:
    struct UnitName {
        std::string name;         // as the gateway names the unit
        std::string description;  // its address or port
    };

    EmberProvider(Units& units, EventHub& hub, AuditLog& audit, std::vector<UnitName> names,
                  const EmberOptions& options);

    /// A unit's state changed, on its monitor's thread.
    void Changed(std::size_t unit, const UnitSnapshot& snapshot);
    std::unique_ptr<StreamSession> Open(std::uint32_t address,
                                        std::weak_ptr<StreamClient> client) override;
    /// The vantrel_ember_clients series.
    std::string MetricsText() const;

    struct Watcher;
    class Session;

  private:
    using Path = std::vector<std::uint32_t>;

    void Handle(Watcher& watcher, const ember::Root& root);
    void Walk(Watcher& watcher, const ember::Element& element, const Path& parent);
    void Run(Watcher& watcher, const Path& path, const ember::Command& command);
    ember::Root Directory(const Path& path) const;
    void Set(Watcher& watcher, const Path& path, std::uint32_t number, std::size_t unit,
             const ember::Value& value);
    void Invoke(Watcher& watcher, const Path& path, const std::optional<ember::Invocation>& call);
    ember::Element ParameterAt(const Path& path, std::size_t unit, std::uint32_t number) const;
    void Forget(const Watcher* watcher);
    /// What the audit log records of a client's command; none, when it cannot be written.
    std::optional<CommandRecord> Record(const Watcher& watcher, const char* action,
                                        nlohmann::json params) const;

    Units& m_units;
    EventHub& m_hub;
    AuditLog& m_audit;
    const std::vector<UnitName> m_names;
    const EmberOptions m_options;

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<Watcher>> m_watchers;
    /// What each unit's parameters last held, to push only what changed.
    std::vector<std::vector<std::optional<ember::Value>>> m_last;
};

}  // namespace vantrel::gateway

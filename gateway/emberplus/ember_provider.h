#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ember/glow.h"
#include "gateway/access/audit_log.h"
#include "gateway/emberplus/ember_access.h"
#include "gateway/emberplus/ember_tree.h"
#include "gateway/fleet/other_units.h"
#include "gateway/fleet/unit_command.h"
#include "gateway/fleet/unit_owners.h"
#include "gateway/fleet/units.h"
#include "gateway/net/event_hub.h"
#include "gateway/net/http_message.h"
#include "gateway/net/stream_server.h"

namespace vantrel::gateway {

/// Who may use the provider, and how.
struct EmberOptions {
    std::string host = "127.0.0.1";
    int port = 9000;  // 0: any free port
    /// The clients admitted, and their roles; empty admits every client, as an operator
    /// (loopback only: see NeedsAllowList).
    std::vector<EmberAllow> allow;
    /// Every client a viewer.
    bool readOnly = false;
    /// A client that sends nothing, not even a keep-alive, for this long is closed.
    std::chrono::milliseconds idle{30000};
    std::size_t perAddress = 8;
};

/// The units as an Ember+ tree (ember_tree.h), as they were at the start (in a cluster, as the
/// gateway first read them from etcd): its numbers are the paths consumers hold, so a unit added
/// later is not in it, and one removed stays offline. A client that asks for a node's directory
/// gets every later change of what the node holds. Sets and invokes run through the unit's
/// command queue as the API's commands do, written to the audit log as "ember" from the client's
/// address, and are answered with what the unit reports afterwards. Only an element that carries
/// a value and no command is a set: consumers send what they hold of a parameter with their
/// requests. A viewer's sets and invokes are answered as refused. In a cluster, a unit that
/// another gateway drives shows what its owner publishes, and its sets and invokes are passed to
/// the owner as the API's one-unit commands, for "ember" at the client's address, and answered
/// by the owner's outcome; while no gateway drives it, they are refused.
class EmberProvider : public StreamService {
  public:
    struct UnitName {
        std::string name;         // as the gateway names the unit
        std::string description;  // its address or port
    };
    /// Sends the API command `request` on `unit` to the gateway that drives it, and gives
    /// `respond` its answer, or a refusal; never waits for it.
    using PassOn = std::function<void(const std::string& unit, HttpRequest request, Respond)>;
    /// In a cluster: who drives each unit, what the others publish of the units they drive, and
    /// what passes a command to them.
    struct Elsewhere {
        const UnitOwners& owners;
        const OtherUnits& others;
        PassOn pass;
    };

    EmberProvider(Units& units, EventHub& hub, AuditLog& audit, std::vector<UnitName> names,
                  const EmberOptions& options, std::optional<Elsewhere> elsewhere = std::nullopt);

    /// A unit's values may have changed, by its own link or by its owner's publishing: they are
    /// read again from whichever shows the unit now, so that a unit that moved between this
    /// gateway and another is pushed as it shows after the move.
    void Changed(std::size_t unit);
    std::unique_ptr<StreamSession> Open(std::uint32_t address,
                                        std::weak_ptr<StreamClient> client) override;
    /// What the listener allows each client, by these options.
    StreamServer::Limits ConnectionLimits() const;
    /// The vantrel_ember_clients series.
    std::string MetricsText() const;

    struct Watcher;
    class Session;

  private:
    using Path = std::vector<std::uint32_t>;
    struct Request;

    /// Adds the requests `element` holds to `requests`, in order, while it holds fewer than
    /// kMostRequests.
    static void Walk(const ember::Element& element, const Path& parent,
                     std::vector<Request>& requests);
    void Run(Watcher& watcher, const Request& request);
    ember::Root Directory(const Path& path, bool nodeItself, bool readOnly) const;
    void Set(Watcher& watcher, const Path& path, std::uint32_t number, std::size_t unit,
             const ember::Value& value);
    void Invoke(Watcher& watcher, const Path& path, const std::optional<ember::Invocation>& call);
    /// A set of a unit another gateway drives, passed to it; answered with the value it reports
    /// once done, or the parameter as it stands.
    void PassSet(const Watcher& watcher, const Path& path, std::uint32_t number, std::size_t unit,
                 std::int64_t wanted);
    /// The API command `path` with `body` on the unit, for the client, to its owner.
    void Pass(const Watcher& watcher, std::size_t unit, const std::string& path,
              const nlohmann::json& body, Respond respond) const;
    ember::Element ParameterAt(const Path& path, std::size_t unit, std::uint32_t number,
                               bool readOnly) const;
    bool ReadOnly(const Watcher& watcher) const;
    /// Whether another gateway drives the unit, or none does now: never alone.
    bool NotDrivenHere(std::size_t unit) const;
    ember_tree::UnitValues ValuesOf(std::size_t unit) const;
    void Forget(const Watcher* watcher);
    /// What the audit log records of a client's command; none, when it cannot be written.
    std::optional<CommandRecord> Record(const Watcher& watcher, const char* action,
                                        nlohmann::json params) const;

    Units& m_units;
    EventHub& m_hub;
    AuditLog& m_audit;
    const std::vector<UnitName> m_names;
    const EmberOptions m_options;
    const std::optional<Elsewhere> m_elsewhere;

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<Watcher>> m_watchers;
    /// What each unit's parameters last held, to push only what changed.
    std::vector<ember_tree::UnitValues> m_last;
};

}  // namespace vantrel::gateway

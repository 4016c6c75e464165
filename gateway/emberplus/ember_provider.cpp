#include "gateway/emberplus/ember_provider.h"

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include "clients/dotted_address.h"
#include "clients/level_names.h"
#include "ember/s101.h"
#include "gateway/api/command_reply.h"
#include "gateway/emberplus/ember_tree.h"
#include "gateway/fleet/unit_command.h"
#include "gateway/net/gateway_headers.h"
#include "unit_link/unit_checks.h"

namespace vantrel::gateway {
namespace {

using ember::Element;
using ember::ElementKind;
using Kind = ember_tree::Place::Kind;

// One message's requests past this many are not answered: no consumer asks for more at once,
// and each may cost an encoded directory.
constexpr std::size_t kMostRequests = 64;
// Nor are its elements past this many read: enough for that many requests, each named by a
// path of numbered nodes.
constexpr std::size_t kMostElements = 8 * kMostRequests;
// Requests answered in one turn of the loop, so a client's many wait behind others' few.
constexpr std::size_t kSlice = 4;

std::string Frame(const ember::Root& root) {
    const ember::Bytes frame =
        ember::EncodeS101({ember::S101Kind::kEmber, ember::EncodeGlow(root)});
    return std::string(frame.begin(), frame.end());
}

Element WithContents(Element element, decltype(Element::contents) contents) {
    element.contents = std::move(contents);
    return element;
}

// The owner's JSON answer to a command passed to it; an empty object for anything else.
nlohmann::json ReplyOf(const HttpResponse& response) {
    nlohmann::json reply = nlohmann::json::parse(response.body, nullptr, false);
    return response.status == 200 && reply.is_object() ? reply : nlohmann::json::object();
}

// The one-unit API route (after /api/units/UNIT/) and body that set parameter `number` to
// `wanted`, as a set runs on a unit driven here: a level brought to the value, a lamp to its
// state, an input or a meter mode by its button.
std::pair<std::string, nlohmann::json> SetCommand(std::uint32_t number, std::int64_t wanted) {
    if (number >= ember_tree::kVolume && number < ember_tree::kInput) {
        const auto level = static_cast<Level>(number - ember_tree::kVolume);
        return {std::string("level/") + clients::NameOf(level), {{"value", wanted}}};
    }
    if (number >= ember_tree::kSoloLeft && number <= ember_tree::kMixDown) {
        const auto lamp = static_cast<std::uint8_t>(number - ember_tree::kSoloLeft);
        return {std::string("press/") + ButtonFor(ButtonEffect::Lamp, lamp)->name,
                {{"on", wanted != 0}}};
    }
    // Settable has kept the value within the choices, so it fits a button's index.
    const auto index = static_cast<std::uint8_t>(wanted);
    const ButtonEffect effect =
        number == ember_tree::kInput ? ButtonEffect::Input : ButtonEffect::MeterMode;
    return {std::string("press/") + ButtonFor(effect, index)->name, nlohmann::json::object()};
}

}  // namespace

/// One thing a client asked: a command on the element at `path`, or a set of it.
struct EmberProvider::Request {
    Path path;
    std::optional<ember::Command> command;  // none: a set
    ember::Value value;                     // a set's
    /// The element holding the command came with contents, as a consumer that keeps a tree
    /// sends what it holds: a directory then answers with the node itself, so that a consumer
    /// that already holds the children sees the node it asked for answered.
    bool withContents = false;
};

struct EmberProvider::Watcher {
    std::weak_ptr<StreamClient> client;
    std::string from;  // its address, for the audit log
    bool viewer = false;
    std::mutex mutex;
    std::set<Path> watched;  // the nodes whose directory it asked for, and what it subscribed to

    void Send(const std::string& bytes) const {
        if (auto open = client.lock()) open->Send(bytes);
    }
    void Watch(const Path& path, bool on) {
        std::lock_guard<std::mutex> lock(mutex);
        if (on) {
            watched.insert(path);
        } else {
            watched.erase(path);
        }
    }
};

/// One client's connection: its frames decoded as they come, their requests answered a slice at
/// a time. A malformed frame ends it.
class EmberProvider::Session : public StreamSession {
  public:
    Session(EmberProvider& provider, std::shared_ptr<Watcher> watcher)
        : m_provider(provider), m_watcher(std::move(watcher)) {}
    ~Session() override { m_provider.Forget(m_watcher.get()); }

    SessionNext Received(const std::uint8_t* data, std::size_t size) override {
        bool glowOk = true;
        const ember::Outcome framed = m_decoder.Feed(data, size, [&](ember::S101Message message) {
            if (!glowOk) return;
            if (message.kind == ember::S101Kind::kKeepAliveRequest) {
                const ember::Bytes reply =
                    ember::EncodeS101({ember::S101Kind::kKeepAliveResponse, {}});
                return m_watcher->Send(std::string(reply.begin(), reply.end()));
            }
            if (message.kind != ember::S101Kind::kEmber) return;
            ember::Result<ember::Root> root = ember::DecodeGlow(message.glow, kMostElements);
            glowOk = root.Ok();
            const auto* elements =
                glowOk ? std::get_if<std::vector<Element>>(&root.Value().body) : nullptr;
            if (!elements) return;
            std::vector<Request> requests;
            for (const Element& element : *elements) Walk(element, {}, requests);
            m_requests.insert(m_requests.end(), requests.begin(), requests.end());
        });
        if (!framed.Ok() || !glowOk) return SessionNext::kClose;
        return Continue();
    }

    SessionNext Continue() override {
        for (std::size_t i = 0; i < kSlice && !m_requests.empty(); ++i) {
            m_provider.Run(*m_watcher, m_requests.front());
            m_requests.pop_front();
        }
        return m_requests.empty() ? SessionNext::kRead : SessionNext::kContinue;
    }

  private:
    EmberProvider& m_provider;
    std::shared_ptr<Watcher> m_watcher;
    ember::S101Decoder m_decoder{64 * 1024};
    std::deque<Request> m_requests;
};

EmberProvider::EmberProvider(Units& units, EventHub& hub, AuditLog& audit,
                             std::vector<UnitName> names, const EmberOptions& options,
                             std::optional<Elsewhere> elsewhere)
    : m_units(units),
      m_hub(hub),
      m_audit(audit),
      m_names(std::move(names)),
      m_options(options),
      m_elsewhere(elsewhere),
      m_last(m_names.size()) {}

std::unique_ptr<StreamSession> EmberProvider::Open(std::uint32_t address,
                                                   std::weak_ptr<StreamClient> client) {
    const std::optional<EmberRole> role = RoleOf(m_options.allow, address);
    if (!role) return nullptr;
    auto watcher = std::make_shared<Watcher>();
    watcher->client = std::move(client);
    watcher->from = clients::Dotted(address);
    watcher->viewer = *role == EmberRole::kViewer;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_watchers.push_back(watcher);
    return std::make_unique<Session>(*this, watcher);
}

StreamServer::Limits EmberProvider::ConnectionLimits() const {
    StreamServer::Limits limits;
    limits.idle = m_options.idle;
    limits.perAddress = m_options.perAddress;
    return limits;
}

bool EmberProvider::ReadOnly(const Watcher& watcher) const {
    return m_options.readOnly || watcher.viewer;
}

void EmberProvider::Forget(const Watcher* watcher) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_watchers.begin(); it != m_watchers.end(); ++it) {
        if (it->get() == watcher) {
            m_watchers.erase(it);
            return;
        }
    }
}

std::string EmberProvider::MetricsText() const {
    std::size_t clients = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        clients = m_watchers.size();
    }
    return "# HELP vantrel_ember_clients Ember+ clients connected.\n"
           "# TYPE vantrel_ember_clients gauge\nvantrel_ember_clients " +
           std::to_string(clients) + "\n";
}

// What changed goes to each client that holds the unit's node (its parameters) or the units
// node (the unit's online state), as one message. Clients that get the same elements share
// one encoding.
void EmberProvider::Changed(std::size_t unit) {
    ember_tree::UnitValues values;
    std::vector<std::shared_ptr<Watcher>> watchers;
    std::vector<std::uint32_t> changed;
    {
        // Read under the lock, so that of two threads telling one unit the later read is kept.
        std::lock_guard<std::mutex> lock(m_mutex);
        values = ValuesOf(unit);
        const auto& last = m_last[unit];
        for (std::uint32_t n = 1; n < values.size(); ++n) {
            if (last.empty() || last[n] != values[n]) changed.push_back(n);
        }
        m_last[unit] = values;
        watchers = m_watchers;
    }
    if (changed.empty()) return;
    const bool onlineChanged = changed.front() == ember_tree::kOnline;
    const Path unitPath = ember_tree::UnitPath(unit);
    std::map<std::vector<bool>, std::string> encoded;
    for (const auto& watcher : watchers) {
        std::vector<bool> gets;  // the unit node, then each changed parameter
        {
            std::lock_guard<std::mutex> lock(watcher->mutex);
            const bool holdsUnit = watcher->watched.count(unitPath) > 0;
            gets.push_back(onlineChanged && watcher->watched.count({1, 1}) > 0);
            for (std::uint32_t n : changed) {
                Path parameter = unitPath;
                parameter.push_back(n);
                gets.push_back(holdsUnit || watcher->watched.count(parameter) > 0);
            }
        }
        if (std::find(gets.begin(), gets.end(), true) == gets.end()) continue;
        auto [at, fresh] = encoded.try_emplace(gets);
        if (fresh) {
            std::vector<Element> elements;
            if (gets[0]) {
                elements.push_back(WithContents(
                    ember::QualifiedElement(ElementKind::kNode, unitPath),
                    ember_tree::UnitContents(m_names[unit].name, m_names[unit].description,
                                             values[ember_tree::kOnline] == ember::Value(true))));
            }
            for (std::size_t i = 0; i < changed.size(); ++i) {
                if (!gets[i + 1]) continue;
                Path path = unitPath;
                path.push_back(changed[i]);
                ember::ParameterContents contents;
                contents.value = values[changed[i]];
                elements.push_back(
                    WithContents(ember::QualifiedElement(ElementKind::kParameter, path), contents));
            }
            at->second = Frame({elements});
        }
        watcher->Send(at->second);
    }
}

// A request names its target by a qualified path, or by numbers nested from the root.
void EmberProvider::Walk(const Element& element, const Path& parent,
                         std::vector<Request>& requests) {
    if (requests.size() >= kMostRequests) return;
    if (element.kind == ElementKind::kCommand) {
        requests.push_back({parent, element.command, {}, false});
        return;
    }
    Path path = element.qualified ? element.path : parent;
    if (!element.qualified) path.insert(path.end(), element.path.begin(), element.path.end());
    const bool carriesCommand =
        element.children &&
        std::any_of(element.children->begin(), element.children->end(),
                    [](const Element& child) { return child.kind == ElementKind::kCommand; });
    const auto* parameter = std::get_if<ember::ParameterContents>(&element.contents);
    if (element.kind == ElementKind::kParameter && parameter && parameter->value &&
        !carriesCommand) {
        requests.push_back({path, std::nullopt, *parameter->value, false});
    }
    if (!element.children) return;
    const bool withContents = !std::holds_alternative<std::monostate>(element.contents);
    for (const Element& child : *element.children) {
        if (requests.size() >= kMostRequests) return;
        if (child.kind == ElementKind::kCommand) {
            requests.push_back({path, child.command, {}, withContents});
        } else {
            Walk(child, path, requests);
        }
    }
}

void EmberProvider::Run(Watcher& watcher, const Request& request) {
    const Path& path = request.path;
    if (!request.command) {
        const ember_tree::Place place = ember_tree::Resolve(path, m_names.size());
        if (place.kind == Kind::kParameter) {
            Set(watcher, path, place.number, place.unit, request.value);
        }
        return;
    }
    switch (request.command->type) {
        case ember::CommandType::kGetDirectory:
            watcher.Watch(path, true);
            return watcher.Send(Frame(Directory(path, request.withContents, ReadOnly(watcher))));
        case ember::CommandType::kSubscribe:
            return watcher.Watch(path, true);
        case ember::CommandType::kUnsubscribe:
            return watcher.Watch(path, false);
        case ember::CommandType::kInvoke:
            return Invoke(watcher, path, request.command->invocation);
    }
}

ember::Element EmberProvider::ParameterAt(const Path& path, std::size_t unit, std::uint32_t number,
                                          bool readOnly) const {
    return WithContents(ember::QualifiedElement(ElementKind::kParameter, path),
                        ember_tree::ParameterContents(number, ValuesOf(unit)[number], readOnly));
}

ember::Root EmberProvider::Directory(const Path& path, bool nodeItself, bool readOnly) const {
    const ember_tree::Place place = ember_tree::Resolve(path, m_names.size());
    ember::NodeContents node;
    std::vector<Element> children;
    switch (place.kind) {
        case Kind::kNone:
            if (!path.empty()) return {std::vector<Element>{}};
            return {std::vector<Element>{WithContents(ember::NumberedElement(ElementKind::kNode, 1),
                                                      ember_tree::VantrelContents())}};
        case Kind::kVantrel:
            node = ember_tree::VantrelContents();
            children.push_back(WithContents(ember::NumberedElement(ElementKind::kNode, 1),
                                            ember_tree::UnitsContents()));
            break;
        case Kind::kUnits:
            node = ember_tree::UnitsContents();
            for (std::size_t unit = 0; unit < m_names.size(); ++unit) {
                const bool up = ValuesOf(unit)[ember_tree::kOnline] == ember::Value(true);
                children.push_back(WithContents(
                    ember::NumberedElement(ElementKind::kNode,
                                           static_cast<std::uint32_t>(unit + 1)),
                    ember_tree::UnitContents(m_names[unit].name, m_names[unit].description, up)));
            }
            break;
        case Kind::kUnit: {
            const ember_tree::UnitValues values = ValuesOf(place.unit);
            node =
                ember_tree::UnitContents(m_names[place.unit].name, m_names[place.unit].description,
                                         values[ember_tree::kOnline] == ember::Value(true));
            children = ember_tree::UnitChildren(values, readOnly);
            break;
        }
        case Kind::kButtons:
            node = ember_tree::ButtonsContents();
            children = ember_tree::ButtonFunctions();
            break;
        case Kind::kParameter:
            return {std::vector<Element>{ParameterAt(path, place.unit, place.number, readOnly)}};
        case Kind::kButton:
            return {std::vector<Element>{
                WithContents(ember::QualifiedElement(ElementKind::kFunction, path),
                             ember_tree::ButtonContents(place.number))}};
    }
    if (nodeItself) {
        Element element = WithContents(ember::QualifiedElement(ElementKind::kNode, path), node);
        element.children = std::move(children);
        return {std::vector<Element>{std::move(element)}};
    }
    // The children, each by its whole path: a consumer places them without walking down to
    // them, and one that expands the tree by directories asks each in turn.
    for (Element& child : children) {
        Path childPath = path;
        childPath.push_back(child.path.back());
        child.qualified = true;
        child.path = std::move(childPath);
    }
    return {std::move(children)};
}

// Answered with the parameter as the unit reports it once the command has run, or at once,
// sending nothing, when the set cannot be taken: by a viewer, or here, on a unit this gateway
// does not drive.
void EmberProvider::Set(Watcher& watcher, const Path& path, std::uint32_t number, std::size_t unit,
                        const ember::Value& value) {
    const std::shared_ptr<UnitMonitor> monitor = m_units.Find(m_names[unit].name);
    const bool readOnly = ReadOnly(watcher);
    auto answer = [this, client = watcher.client, path, unit, number, readOnly] {
        if (auto open = client.lock()) {
            open->Send(Frame({std::vector<Element>{ParameterAt(path, unit, number, readOnly)}}));
        }
    };
    const std::optional<std::int64_t> wanted = ember_tree::Settable(number, value);
    if (readOnly || !wanted || !monitor) return answer();
    if (NotDrivenHere(unit)) return PassSet(watcher, path, number, unit, *wanted);
    // A lamp is judged by the unit as the command runs; anything else already at the value, with
    // no command queued that may move it, is left alone, so a consumer that repeats what it
    // holds moves nothing.
    const bool isLamp = number >= ember_tree::kSoloLeft && number <= ember_tree::kMixDown;
    if (!isLamp && monitor->Idle() &&
        ember_tree::Values(monitor->Snapshot())[number] == ember::Value(*wanted)) {
        return answer();
    }
    const std::optional<CommandRecord> record = Record(
        watcher, "set", {{"parameter", ember_tree::ParameterName(number)}, {"value", *wanted}});
    if (!record) return answer();
    CheckedCommand command;
    if (number >= ember_tree::kVolume && number < ember_tree::kInput) {
        const auto level = static_cast<Level>(number - ember_tree::kVolume);
        const auto target = static_cast<std::int32_t>(*wanted);
        command = [level, target](UnitLink& link) { return BringLevel(link, level, target); };
    } else if (isLamp) {
        const Button* lamp = ButtonFor(ButtonEffect::Lamp,
                                       static_cast<std::uint8_t>(number - ember_tree::kSoloLeft));
        const bool on = *wanted != 0;
        command = [lamp, on](UnitLink& link) { return BringLamp(link, *lamp, on); };
    } else {
        // Settable has kept the value within the choices, so it fits a button's index.
        const auto index = static_cast<std::uint8_t>(*wanted);
        const Button* button = number == ember_tree::kInput
                                   ? ButtonFor(ButtonEffect::Input, index)
                                   : ButtonFor(ButtonEffect::MeterMode, index);
        command = [button](UnitLink& link) { return PressButton(link, *button); };
    }
    RunCommand(*monitor, m_hub, command, false, *record, KeptAsReply("level"),
               [answer](const CommandOutcome&) { answer(); });
}

void EmberProvider::PassSet(const Watcher& watcher, const Path& path, std::uint32_t number,
                            std::size_t unit, std::int64_t wanted) {
    auto answer = [this, client = watcher.client, path, unit,
                   number](std::optional<ember::Value> value) {
        ember::ParameterContents contents =
            ember_tree::ParameterContents(number, value ? *value : ValuesOf(unit)[number], false);
        if (auto open = client.lock()) {
            open->Send(Frame({std::vector<Element>{
                WithContents(ember::QualifiedElement(ElementKind::kParameter, path), contents)}}));
        }
    };
    const bool isLamp = number >= ember_tree::kSoloLeft && number <= ember_tree::kMixDown;
    // What the owner published already holds it: nothing moves, as on a unit driven here.
    if (!isLamp && ValuesOf(unit)[number] == ember::Value(wanted)) return answer(std::nullopt);
    const auto [route, body] = SetCommand(number, wanted);
    const bool isLevel = number >= ember_tree::kVolume && number < ember_tree::kInput;
    const ember::Value done = isLamp ? ember::Value(wanted != 0) : ember::Value(wanted);
    Pass(watcher, unit, route, body, [answer, done, isLevel](const HttpResponse& response) {
        const nlohmann::json reply = ReplyOf(response);
        if (!reply.value("done", false)) return answer(std::nullopt);
        const nlohmann::json level = reply.value("level", nlohmann::json());
        answer(isLevel && level.is_number_integer() ? ember::Value(level.get<std::int64_t>())
                                                    : done);
    });
}

void EmberProvider::Pass(const Watcher& watcher, std::size_t unit, const std::string& path,
                         const nlohmann::json& body, Respond respond) const {
    const std::string& name = m_names[unit].name;
    HttpRequest request;
    request.method = "POST";
    request.path = "/api/units/" + name + "/" + path;
    request.headers = {{"Content-Type", "application/json"},
                       {kOnBehalfOf, "ember " + watcher.from}};
    request.body = body.dump();
    m_elsewhere->pass(name, std::move(request), std::move(respond));
}

bool EmberProvider::NotDrivenHere(std::size_t unit) const {
    return m_elsewhere && m_elsewhere->owners.OwnerOf(m_names[unit].name).where != Ownership::kHere;
}

// A unit removed since the start keeps its place in the tree, offline and without values; one
// driven elsewhere shows what its owner last published, offline until it has published any.
ember_tree::UnitValues EmberProvider::ValuesOf(std::size_t unit) const {
    UnitSnapshot offline;
    offline.link = LinkState::Down;
    const std::shared_ptr<UnitMonitor> monitor = m_units.Find(m_names[unit].name);
    if (!monitor) return ember_tree::Values(offline);
    if (!NotDrivenHere(unit)) return ember_tree::Values(monitor->Snapshot());
    const std::optional<nlohmann::json> published = m_elsewhere->others.StateOf(m_names[unit].name);
    return published ? ember_tree::Values(*published) : ember_tree::Values(offline);
}

// A command the audit log cannot take is not run, as the API refuses it.
std::optional<CommandRecord> EmberProvider::Record(const Watcher& watcher, const char* action,
                                                   nlohmann::json params) const {
    std::string why;
    if (!m_audit.Ready(why)) return std::nullopt;
    return CommandRecord{&m_audit, "ember", watcher.from, action, std::move(params), "", "", ""};
}

void EmberProvider::Invoke(Watcher& watcher, const Path& path,
                           const std::optional<ember::Invocation>& call) {
    const std::int32_t id = call && call->id ? *call->id : 0;
    auto answer = [client = watcher.client, id](bool ran, bool confirmed) {
        if (auto open = client.lock()) {
            open->Send(Frame({ember::InvocationResult{id, ran, {ember::Value(confirmed)}}}));
        }
    };
    const ember_tree::Place place = ember_tree::Resolve(path, m_names.size());
    if (place.kind != Kind::kButton || ReadOnly(watcher)) return answer(false, false);
    const std::shared_ptr<UnitMonitor> monitor = m_units.Find(m_names[place.unit].name);
    if (!monitor) return answer(false, false);
    const Button* button = ember_tree::Buttons()[place.number - 1];
    if (NotDrivenHere(place.unit)) {
        return Pass(watcher, place.unit, std::string("press/") + button->name,
                    nlohmann::json::object(), [answer](const HttpResponse& response) {
                        const nlohmann::json reply = ReplyOf(response);
                        const bool ran = reply.value("done", false);
                        answer(ran, ran && reply.value("confirmation", "") == "confirmed");
                    });
    }
    const std::optional<CommandRecord> record =
        Record(watcher, "press", {{"button", button->name}});
    if (!record) return answer(false, false);
    RunCommand(
        *monitor, m_hub, [button](UnitLink& link) { return PressButton(link, *button); }, false,
        *record, KeptAsReply("level"),
        [answer](const CommandOutcome& outcome) {
            const bool ran = outcome.Done();
            answer(ran, ran && outcome.result.Value().confirmation == Confirmation::Confirmed);
        });
}

}  // namespace vantrel::gateway

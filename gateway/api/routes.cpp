#include "gateway/api/routes.h"

#include "gateway/api/api.h"

#include <string_view>

namespace vantrel::gateway {
namespace {

using Segments = std::vector<std::string>;

// "/api/units/x" -> {"api", "units", "x"}; "/" -> {""}.
Segments Split(const std::string& path) {
    Segments segments;
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

bool IsParam(const std::string& segment) {
    return segment.size() > 2 && segment.front() == '{' && segment.back() == '}';
}

// The literal segments a pattern matches `path` with; none when it does not.
std::optional<std::size_t> Literals(const Segments& pattern, const Segments& path) {
    if (pattern.size() != path.size()) return std::nullopt;
    std::size_t literals = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (IsParam(pattern[i])) continue;
        if (pattern[i] != path[i]) return std::nullopt;
        ++literals;
    }
    return literals;
}

}  // namespace

const std::vector<Route>& Api::Routes() {
    constexpr auto kViewer = Role::kViewer, kOperator = Role::kOperator, kAdmin = Role::kAdmin;
    constexpr std::optional<Role> kAnyone;
    constexpr std::size_t kCommand = kMostCommandBytes, kImage = kMostImageBytes;
    static const std::vector<Route> kRoutes{
        {"GET", "/api/units", kViewer, kCommand, false, &Api::GetUnits},
        {"GET", "/api/units/{unit}", kViewer, kCommand, false, &Api::GetUnit},
        {"POST", "/api/units", kAdmin, kCommand, true, &Api::PostUnit},
        {"DELETE", "/api/units/{unit}", kAdmin, kCommand, true, &Api::DeleteUnit},
        {"PUT", "/api/units/{unit}/labels", kAdmin, kCommand, true, &Api::PutUnitLabels},
        {"GET", "/api/jobs", kViewer, kCommand, false, &Api::GetJobs},
        {"GET", "/api/jobs/{id}", kViewer, kCommand, false, &Api::GetJob},
        {"GET", "/api/meta", kViewer, kCommand, false, &Api::GetMeta},
        {"GET", "/api/events", kViewer, kCommand, true, &Api::GetEvents},
        {"GET", "/api/whoami", kViewer, kCommand, false, &Api::GetWhoAmI},
        {"GET", "/api/audit", kAdmin, kCommand, false, &Api::GetAudit},
        {"GET", "/api/openapi.json", kViewer, kCommand, false, &Api::GetApiDocument},
        {"GET", "/metrics", kViewer, kCommand, false, &Api::GetMetrics},
        {"GET", "/{file}", kAnyone, kCommand, false, &Api::GetWebFile},
        {"POST", "/api/units/{unit}/press/{button}", kOperator, kCommand, true, &Api::PostPress},
        {"POST", "/api/units/{unit}/level/{name}", kOperator, kCommand, true, &Api::PostLevel},
        {"POST", "/api/units/{unit}/network", kAdmin, kCommand, true, &Api::PostNetwork},
        {"POST", "/api/units/{unit}/factory-reset", kAdmin, kCommand, true, &Api::PostFactoryReset},
        {"POST", "/api/groups/press/{button}", kOperator, kCommand, true, &Api::PostGroupPress},
        {"POST", "/api/groups/level/{name}", kOperator, kCommand, true, &Api::PostGroupLevel},
        {"POST", "/api/groups/network", kAdmin, kCommand, true, &Api::PostGroupNetwork},
        {"POST", "/api/groups/factory-reset", kAdmin, kCommand, true, &Api::PostGroupFactoryReset},
        {"POST", "/api/firmware", kAdmin, kImage, true, &Api::PostFirmware},
        {"POST", "/api/jobs/{id}/continue", kAdmin, kCommand, true, &Api::PostContinue},
        {"GET", "/api/snapshots", kViewer, kCommand, false, &Api::GetSnapshots},
        {"POST", "/api/snapshots", kAdmin, kCommand, true, &Api::PostSnapshot},
        {"GET", "/api/snapshots/{name}", kViewer, kCommand, false, &Api::GetSnapshot},
        {"DELETE", "/api/snapshots/{name}", kAdmin, kCommand, true, &Api::DeleteSnapshot},
        {"POST", "/api/snapshots/{name}/validate", kOperator, kCommand, true, &Api::PostValidate},
        {"POST", "/api/snapshots/{name}/apply", kOperator, kCommand, true, &Api::PostApply},
        {"GET", "/api/snapshots/{name}/diff", kViewer, kCommand, false, &Api::GetDiff},
        {"POST", "/api/audit/undo", kOperator, kCommand, true, &Api::PostUndo},
        {"PUT", "/api/units/{unit}/desired", kAdmin, kCommand, true, &Api::PutDesired},
        {"GET", "/api/drift", kViewer, kCommand, false, &Api::GetDrift},
    };
    return kRoutes;
}

RouteMatch FindRoute(const std::vector<Route>& table, const std::string& method,
                     const std::string& path) {
    RouteMatch match;
    if (path.empty() || path[0] != '/') return match;
    const Segments segments = Split(path);
    // HEAD is GET without the body, which the network core leaves out.
    const std::string wanted = method == "HEAD" ? "GET" : method;
    auto allow = [&match](const std::string& name) {
        if (match.allow.find(name) != std::string::npos) return;
        match.allow += (match.allow.empty() ? "" : ", ") + name;
    };
    std::size_t most = 0;
    for (const Route& route : table) {
        const std::optional<std::size_t> literals = Literals(Split(route.pattern), segments);
        if (!literals) continue;
        if (wanted != route.method) {
            allow(route.method);
            if (std::string(route.method) == "GET") allow("HEAD");
        } else if (!match.route || *literals > most) {
            match.route = &route;
            most = *literals;
        }
    }
    if (!match.route) return match;
    const Segments pattern = Split(match.route->pattern);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (IsParam(pattern[i])) match.params.push_back(segments[i]);
    }
    match.allow.clear();
    return match;
}

const std::string* CommandedUnit(const RouteMatch& match) {
    constexpr std::string_view kUnitRoutes = "/api/units/{unit}/";
    if (!match.route || std::string_view(match.route->method) != "POST" ||
        std::string_view(match.route->pattern).substr(0, kUnitRoutes.size()) != kUnitRoutes) {
        return nullptr;
    }
    return &match.params.at(0);
}

}  // namespace vantrel::gateway

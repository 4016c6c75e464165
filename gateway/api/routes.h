#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "gateway/net/http_message.h"
#include "gateway/access/tokens.h"

namespace vantrel::gateway {

class Api;

/// What a route's handler is given: the request, who sent it, the segments its pattern's
/// `{...}` took, in order, and where the reply goes.
struct RouteCall {
    const HttpRequest& request;
    const Identity& who;
    const std::vector<std::string>& params;
    const Respond& respond;
};

/// One route: the router, the access rules, the body limits and the API document's check all
/// read it, and nothing else decides them. A pattern's `{name}` takes one whole segment, any other
/// segment only itself.
struct Route {
    const char* method;
    const char* pattern;  // "/api/units/{unit}/press/{button}"
    /// The least role a token needs; none for what anyone may read, the page's own files.
    std::optional<Role> least;
    std::size_t bodyLimit;
    /// A request that changes something or holds a stream must come from the gateway's own page.
    bool ownOrigin;
    void (Api::*handler)(const RouteCall&);
};

/// Where a request goes: its route and the segments taken, or why none takes it.
struct RouteMatch {
    const Route* route = nullptr;
    std::vector<std::string> params;
    /// With no route: the methods the path takes ("GET, HEAD, POST"), "" when it takes none.
    std::string allow;
};

/// The route of `table` that takes `method` on `path` (percent-decoded, beginning with '/'),
/// where a literal segment is preferred to a `{...}` one; HEAD takes the GET route. Nothing
/// matches a path without its leading '/'.
RouteMatch FindRoute(const std::vector<Route>& table, const std::string& method,
                     const std::string& path);

/// The unit a matched request commands: any POST under "/api/units/{unit}/" sends the unit
/// lines, so only the unit's owner may run it. Null for every other route.
const std::string* CommandedUnit(const RouteMatch& match);

}  // namespace vantrel::gateway

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "gateway/api/api.h"
#include "gateway/api/routes.h"
#include "gateway/api/web_assets.h"

namespace vantrel::gateway {
namespace gateway_api_document_test {
namespace {

using nlohmann::json;

json Document() {
    const WebAsset* asset = FindApiDocument("/api/openapi.json");
    if (!asset) return json();
    return json::parse(asset->data, asset->data + asset->size);
}

// The route table and the API document name the same routes, and what the table says of each
// (who may call it, whether it takes a body, whether it must come from the page) shows in the
// statuses the document gives it.
TEST(GatewayApiDocumentTest, EveryRouteIsDocumentedAsTheTableSaysAndNothingElseIs) {
    const json document = Document();
    ASSERT_TRUE(document.contains("paths"));
    std::set<const Route*> documented;
    for (const auto& [path, item] : document["paths"].items()) {
        for (const auto& [method, operation] : item.items()) {
            if (method == "parameters") continue;
            std::string upper = method;
            for (char& c : upper) c = static_cast<char>(std::toupper(c));
            const std::string what = upper + " " + path;
            // A documented path is a route's own pattern, or one of the page's files.
            const Route* route = nullptr;
            for (const Route& row : Api::Routes()) {
                if (row.method == upper && row.pattern == path) route = &row;
            }
            if (!route) {
                const RouteMatch match = FindRoute(Api::Routes(), upper, path);
                if (match.route && std::string(match.route->pattern) == "/{file}" &&
                    FindWebAsset(path.c_str())) {
                    route = match.route;
                }
            }
            if (!route) {
                ADD_FAILURE() << what << " is documented but no route takes it";
                continue;
            }
            documented.insert(route);
            const json& responses = operation["responses"];
            const bool open = operation.contains("security") && operation["security"].empty();
            EXPECT_EQ(open, !route->least) << what;
            EXPECT_EQ(responses.contains("401"), route->least.has_value()) << what;
            const bool refusable =
                route->ownOrigin || (route->least && *route->least > Role::kViewer);
            EXPECT_EQ(responses.contains("403"), refusable) << what;
            EXPECT_EQ(responses.contains("413"), upper == "POST") << what;
        }
    }
    for (const Route& row : Api::Routes()) {
        EXPECT_TRUE(documented.count(&row))
            << row.method << " " << row.pattern << " is undocumented";
    }
}

}  // namespace
}  // namespace gateway_api_document_test
}  // namespace vantrel::gateway

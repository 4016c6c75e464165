// The routes that change the units, over HTTP: only an admin's token may, each status as
// answered, and a gateway whose units no file keeps refuses them. The program keeps them in its
// state folder across a restart, and reads the units file again on SIGHUP.
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "gateway/state/file_store.h"
#include "tests/support/gateway_process.h"
#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"
#include "tests/support/state_folder.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace gateway_unit_admin_test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
constexpr milliseconds kLimit(5000);

// The status of a request with a JSON body, with a token or none.
int Status(const testing::RunningGateway& gw, const std::string& method, const std::string& path,
           const char* token, const std::string& body) {
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + gw.host + ":" +
                          std::to_string(gw.service->Port()) + "\r\n";
    if (token) request += std::string("Authorization: Bearer ") + token + "\r\n";
    request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    testing::RawClient client(gw.host, gw.service->Port());
    client.Send(request);
    return client.Response(milliseconds(10000));
}

TEST(GatewayUnitAdminTest, OnlyAnAdminChangesTheUnitsAndEachStatusIsAsAnswered) {
    testing::TempFile tokens("admin-tokens",
                             "wall viewer wall-token-0123456789\n"
                             "desk operator desk-token-0123456789\n"
                             "root admin root-token-0123456789\n");
    chmod(tokens.Path().c_str(), 0600);
    const testing::StateFolder folder("127.0.60.1\n");
    testing::RunningGateway gw(1, "127.0.0.3", std::nullopt, {}, [&](gateway::GatewayOptions& o) {
        o.tokensFile = tokens.Path();
        o.store = std::make_shared<gateway::FileStore>(folder.Path("units"), folder.Path());
    });
    ASSERT_TRUE(gw.started) << gw.error;

    struct Route {
        std::string method, path, body;
        int admin;  // none 401, viewer and operator 403
    };
    const std::vector<Route> routes{
        {"POST", "/api/units", R"({"unit": "127.0.60.9", "name": "spare"})", 201},
        {"POST", "/api/units", R"({"unit": "127.0.60.9"})", 409},
        {"POST", "/api/units", R"({"unit": "not-a-unit"})", 400},
        {"PUT", "/api/units/127.0.60.9/labels", R"({"labels": {"role": "spare"}})", 200},
        {"PUT", "/api/units/127.0.60.8/labels", R"({"labels": {}})", 404},
        {"DELETE", "/api/units/127.0.60.9", "", 200},
        {"DELETE", "/api/units/127.0.60.9", "", 404},
    };
    for (const Route& route : routes) {
        SCOPED_TRACE(route.method + " " + route.path + " " + route.body);
        EXPECT_EQ(Status(gw, route.method, route.path, nullptr, route.body), 401);
        EXPECT_EQ(Status(gw, route.method, route.path, "wall-token-0123456789", route.body), 403);
        EXPECT_EQ(Status(gw, route.method, route.path, "desk-token-0123456789", route.body), 403);
        EXPECT_EQ(Status(gw, route.method, route.path, "root-token-0123456789", route.body),
                  route.admin);
    }
    EXPECT_EQ(folder.Read("units"), "127.0.60.1\n");

    // Units given only by --unit: no file keeps a change.
    testing::RunningGateway bare(0);
    ASSERT_TRUE(bare.started) << bare.error;
    EXPECT_EQ(Status(bare, "POST", "/api/units", nullptr, R"({"unit": "127.0.60.9"})"), 409);
}

// The units as the program's GET /api/units lists them: address and name.
std::vector<std::pair<std::string, json>> Listed(httplib::Client& client) {
    std::vector<std::pair<std::string, json>> units;
    const auto reply = client.Get("/api/units");
    if (!reply) return units;
    const json listed = json::parse(reply->body);
    for (const json& unit : listed["units"]) {
        units.emplace_back(unit["unit"], unit["name"]);
    }
    return units;
}

TEST(GatewayStateDirTest, UnitsAddedAreKeptAcrossARestartAndSighupReadsTheFileAgain) {
    testing::StateFolder folder("");
    std::filesystem::remove(folder.Path("units"));
    const std::vector<std::string> arguments{"--state-dir", folder.Path(), "--listen",
                                             "127.0.0.1:18077"};
    httplib::Client client("127.0.0.1", 18077);
    using Units = std::vector<std::pair<std::string, json>>;
    {
        testing::GatewayProcess gateway(arguments);
        ASSERT_TRUE(gateway.Serving(kLimit)) << gateway.Errors();
        EXPECT_TRUE(Listed(client).empty());
        const auto added = client.Post("/api/units", R"({"unit": "127.0.61.7", "name": "desk"})",
                                       "application/json");
        ASSERT_TRUE(added);
        EXPECT_EQ(added->status, 201) << added->body;

        folder.Put("units", folder.Read("units") + "127.0.61.8  # by hand\n");
        gateway.Signal(SIGHUP);
        EXPECT_TRUE(testing::WaitUntil(
            [&] {
                return Listed(client) == Units{{"127.0.61.7", "desk"}, {"127.0.61.8", nullptr}};
            },
            kLimit));
        folder.Put("units", "127.0.61.9 site\n");
        gateway.Signal(SIGHUP);
        EXPECT_TRUE(testing::WaitUntil(
            [&] { return gateway.Errors().find("line 1") != std::string::npos; }, kLimit))
            << gateway.Errors();
        EXPECT_EQ(Listed(client).size(), 2u);
        // The next change writes the units the gateway holds.
        const auto spare =
            client.Post("/api/units", R"({"unit": "127.0.61.6"})", "application/json");
        ASSERT_TRUE(spare);
        EXPECT_EQ(spare->status, 201) << spare->body;
        EXPECT_EQ(folder.Read("units"),
                  "127.0.61.7 name=desk\n127.0.61.8  # by hand\n127.0.61.6\n");
        gateway.Signal(SIGTERM);
        EXPECT_EQ(gateway.Exit(kLimit), 0);
    }
    testing::GatewayProcess again(arguments);
    ASSERT_TRUE(again.Serving(kLimit)) << again.Errors();
    EXPECT_EQ(Listed(client),
              (Units{{"127.0.61.7", "desk"}, {"127.0.61.8", nullptr}, {"127.0.61.6", nullptr}}));
    again.Signal(SIGTERM);
    EXPECT_EQ(again.Exit(kLimit), 0);
}

}  // namespace
}  // namespace gateway_unit_admin_test
}  // namespace vantrel

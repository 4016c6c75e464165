// Who may do what, and who did what: named tokens with roles on every route group, the audit
// log's entries of each kind of command, a log that cannot be written, and tokens read again on
// SIGHUP.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gateway/access/tokens.h"
#include "tests/support/gateway_process.h"
#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace gateway_roles_test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

const char* const kTokens =
    "# the rack's tokens\n"
    "wall     viewer   wall-token-0123456789\n"
    "desk     operator desk-token-0123456789\n"
    "engineer admin    root-token-0123456789  # the engineer\n";

std::string OwnerOnlyFile(const testing::TempFile& file) {
    chmod(file.Path().c_str(), 0600);
    return file.Path();
}

// The status a request gets with a token (none: without one).
int Status(testing::RunningGateway& gw, const std::string& method, const std::string& path,
           const char* token, const std::string& body = "{}") {
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.3\r\n";
    if (token) request += std::string("Authorization: Bearer ") + token + "\r\n";
    if (method == "POST") {
        const bool image = path.rfind("/api/firmware", 0) == 0;
        request += std::string("Content-Type: application/") + (image ? "octet-stream" : "json") +
                   "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    }
    testing::RawClient client(gw.host, gw.service->Port());
    client.Send(request + "\r\n" + (method == "POST" ? body : ""));
    if (path == "/api/events") {  // a stream never ends: its status line is enough
        const std::string& head = client.ReadFor(milliseconds(300));
        return head.size() > 12 ? std::atoi(head.c_str() + 9) : -1;
    }
    return client.Response(milliseconds(10000));
}

TEST(GatewayRolesTest, EachRoleReachesItsRouteGroupsAndNoMore) {
    testing::TempFile tokens("gateway-tokens", kTokens);
    testing::RunningGateway gw(1, "127.0.0.3", std::nullopt, {}, [&](gateway::GatewayOptions& o) {
        o.tokensFile = OwnerOnlyFile(tokens);
    });
    ASSERT_TRUE(gw.started) << gw.error;
    const std::string unit = "/api/units/127.0.60.1";
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            return Status(gw, "POST", unit + "/press/mix-down", "desk-token-0123456789") == 200;
        },
        milliseconds(5000)));

    struct Route {
        std::string method, path, body;
        int none, viewer, operator_, admin;  // the status each gets
    };
    const std::vector<Route> routes{
        {"GET", "/api/units", "", 401, 200, 200, 200},
        {"GET", "/metrics", "", 401, 200, 200, 200},
        {"GET", "/api/events", "", 401, 200, 200, 200},
        {"GET", "/", "", 200, 200, 200, 200},
        {"POST", unit + "/press/mix-down", "{}", 401, 403, 200, 200},
        {"POST", unit + "/level/volume", R"({"step": "up"})", 401, 403, 200, 200},
        {"POST", unit + "/network", R"({"mode": "static", "ip": "127.0.60.1",
             "mask": "255.255.0.0", "gateway": "127.0.60.254", "force": true})",
         401, 403, 403, 200},
        {"POST", unit + "/factory-reset", R"({"confirm": true})", 401, 403, 403, 200},
        {"POST", "/api/firmware?units=127.0.60.1&controller=main", std::string(100, 'x'), 401, 403,
         403, 400},
        {"GET", "/api/audit", "", 401, 403, 403, 200},
    };
    for (const Route& route : routes) {
        SCOPED_TRACE(route.method + " " + route.path);
        EXPECT_EQ(Status(gw, route.method, route.path, nullptr, route.body), route.none);
        EXPECT_EQ(Status(gw, route.method, route.path, "wall-token-0123456789", route.body),
                  route.viewer);
        EXPECT_EQ(Status(gw, route.method, route.path, "desk-token-0123456789", route.body),
                  route.operator_);
        EXPECT_EQ(Status(gw, route.method, route.path, "root-token-0123456789", route.body),
                  route.admin);
    }
    httplib::Client client = gw.Client();
    client.set_bearer_token_auth("desk-token-0123456789");
    EXPECT_EQ(json::parse(client.Get("/api/whoami")->body),
              (json{{"name", "desk"}, {"role", "operator"}}));
}

// Each command is an entry as it begins and one once its outcome is known: who, from where,
// what, the outcome as replied, and the unit's values before and after. A log that cannot be
// written stops commands.
TEST(GatewayAuditTest, EveryCommandAndJobIsAnEntryAndAnUnwritableLogRefusesCommands) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("vantrel-audit-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "audit.jsonl").string();
    testing::RunningGateway gw(1, "127.0.0.1", std::nullopt, {},
                               [&](gateway::GatewayOptions& o) { o.auditLog = path; });
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    gw.units[0]->unit.SetLevel(sim::Level::Volume, 10);
    const std::string unit = "/api/units/127.0.60.1";
    ASSERT_EQ(gw.Post(unit + "/press/mix-down", json::object())->status, 200);
    ASSERT_EQ(gw.Post(unit + "/level/volume", {{"value", 12}})->status, 200);
    ASSERT_EQ(gw.Post(unit + "/network", {{"mode", "static"},
                                          {"ip", "127.0.60.1"},
                                          {"mask", "255.255.0.0"},
                                          {"gateway", "127.0.60.254"},
                                          {"force", true}})
                  ->status,
              200);
    auto client = gw.Client();
    const auto job = client.Post("/api/firmware?units=127.0.60.1&controller=main",
                                 std::string(3000, '\x11'), "application/octet-stream");
    ASSERT_EQ(job->status, 202);
    json entries;
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            entries = json::parse(client.Get("/api/audit?unit=127.0.60.1")->body)["entries"];
            return entries.size() == 8;
        },
        std::chrono::seconds(20)))
        << entries.dump();

    // Newest first, and the file holds the same, oldest first.
    std::ifstream in(path);
    std::vector<json> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    ASSERT_EQ(lines.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(lines[i], entries[7 - i]);
    // Each is begun before anything is sent, then ended with its outcome.
    std::vector<json> ended;
    for (std::size_t i = 0; i < 8; i += 2) {
        EXPECT_EQ(lines[i]["phase"], "begun");
        EXPECT_EQ(lines[i]["action"], lines[i + 1]["action"]);
        EXPECT_FALSE(lines[i].contains("outcome"));
        EXPECT_EQ(lines[i + 1]["phase"], "ended");
        ended.push_back(lines[i + 1]);
    }
    lines = ended;

    const json& press = lines[0];
    EXPECT_EQ(press["who"], "local");  // no tokens on 127.0.0.1
    EXPECT_EQ(json::parse(client.Get("/api/whoami")->body),
              (json{{"name", "local"}, {"role", "admin"}}));
    EXPECT_EQ(press["from"], "127.0.0.1");
    EXPECT_EQ(press["action"], "press");
    EXPECT_EQ(press["params"], (json{{"button", "mix-down"}}));
    EXPECT_EQ(press["outcome"]["status"], 200);
    EXPECT_EQ(press["before"]["mixDown"], 0);
    EXPECT_EQ(press["after"]["mixDown"], 1);
    EXPECT_EQ(press["time"].get<std::string>().size(), 24u);
    EXPECT_EQ(lines[1]["params"], (json{{"level", "volume"}, {"value", 12}}));
    EXPECT_EQ(lines[1]["before"]["levels"][0], 10);
    EXPECT_EQ(lines[1]["after"]["levels"][0], 12);
    EXPECT_EQ(lines[2]["action"], "network");
    EXPECT_EQ(lines[2]["after"]["mask"], "255.255.0.0");
    EXPECT_EQ(lines[2]["params"]["force"], true);
    EXPECT_EQ(lines[3]["action"], "firmware");
    EXPECT_EQ(lines[3]["outcome"]["state"], "done");
    EXPECT_EQ(json::parse(client.Get("/api/audit?who=nobody")->body)["entries"].size(), 0u);
    EXPECT_EQ(json::parse(client.Get("/api/audit?limit=1")->body)["entries"][0], lines[3]);

    std::filesystem::remove_all(folder);
    gw.units[0]->log.Clear();
    const auto refused = gw.Post(unit + "/press/mute", json::object());
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_NE(json::parse(refused->body)["error"].get<std::string>().find(path), std::string::npos);
    for (const std::string& line : gw.units[0]->log.Lines("tcp")) EXPECT_NE(line, "ROT3\r\n");
}

// HTTPS with a certificate the test makes: a request over TLS is served; plain HTTP to the same
// port is not, and the token never crosses in clear.
TEST(GatewayTlsTest, HttpsIsServedAndPlainHttpToItsPortIsNot) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("vantrel-tls-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string key = (folder / "key.pem").string(), cert = (folder / "cert.pem").string();
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.3 "
                           "-addext subjectAltName=IP:127.0.0.3 -keyout " +
                           key + " -out " + cert + " 2>/dev/null")
                              .c_str()),
              0);
    const std::string token = "tls-token-0123456789";
    testing::RunningGateway gw(1, "127.0.0.3", token, {}, [&](gateway::GatewayOptions& o) {
        o.tlsCertificate = cert;
        o.tlsKey = key;
    });
    ASSERT_TRUE(gw.started) << gw.error;
    httplib::SSLClient client("127.0.0.3", gw.service->Port());
    testing::Recording(client);
    client.set_ca_cert_path(cert.c_str());
    client.enable_server_certificate_verification(true);
    client.set_bearer_token_auth(token);
    const auto reply = client.Get("/api/whoami");
    ASSERT_TRUE(reply) << httplib::to_string(reply.error());
    EXPECT_EQ(json::parse(reply->body)["name"], "admin");

    testing::RawClient plain(gw.host, gw.service->Port());
    plain.Send("GET /api/units HTTP/1.1\r\nHost: 127.0.0.3\r\nAuthorization: Bearer " + token +
               "\r\n\r\n");
    EXPECT_EQ(plain.ReadFor(milliseconds(500)).find("\"units\""), std::string::npos);
    std::filesystem::remove_all(folder);
}

// A tokens file is taken whole or not at all: each mistake is named with its line, and the
// tokens in force stay until a file without one is read.
TEST(GatewayTokensTest, AFileWithAMistakeIsRefusedWholeAndTheTokensInForceStay) {
    testing::TempFile file("gateway-tokens-load", kTokens);
    gateway::Tokens tokens;
    std::string why;
    ASSERT_TRUE(tokens.Load(OwnerOnlyFile(file), why)) << why;
    const std::vector<std::pair<std::string, std::string>> mistakes{
        {"wall viewer wall-token-0123456789 extra\n", ":1: not NAME viewer|operator|admin TOKEN"},
        {"wall guest wall-token-0123456789\n", ":1: not NAME"},
        {"# the wall\nwall viewer\n", ":2: not NAME"},
        {"wall viewer wall-token-0123456789\nwall admin root-token-0123456789\n",
         ":2: the name wall is given twice"},
        {"wall viewer wall-token-012\n", ":1: the token is shorter than 16 characters"},
    };
    auto holds = [&](const char* token, const char* name, gateway::Role role) {
        const std::optional<gateway::Identity> who = tokens.Find(std::string("Bearer ") + token);
        return who && who->name == name && who->role == role;
    };
    for (const auto& [text, reason] : mistakes) {
        SCOPED_TRACE(text);
        std::ofstream(file.Path()) << text;
        EXPECT_FALSE(tokens.Reload(why));
        EXPECT_NE(why.find(reason), std::string::npos) << why;
        EXPECT_TRUE(holds("desk-token-0123456789", "desk", gateway::Role::kOperator));
    }
    std::ofstream(file.Path()) << "wall admin wall-token-0123456789\n";
    chmod(file.Path().c_str(), 0640);
    EXPECT_FALSE(tokens.Reload(why));
    EXPECT_NE(why.find("chmod 600"), std::string::npos) << why;
    EXPECT_TRUE(holds("desk-token-0123456789", "desk", gateway::Role::kOperator));
    chmod(file.Path().c_str(), 0600);
    ASSERT_TRUE(tokens.Reload(why)) << why;
    EXPECT_TRUE(holds("wall-token-0123456789", "wall", gateway::Role::kAdmin));
    EXPECT_FALSE(tokens.Find("Bearer desk-token-0123456789"));
}

// SIGHUP reads the tokens file again: a token added works at once, a token taken out is refused.
TEST(GatewayProgramTokensTest, SighupAddsATokenAndRevokesAnother) {
    testing::TempFile tokens("gateway-tokens-hup", kTokens);
    testing::GatewayProcess gateway({"--unit", "127.0.60.1", "--listen", "127.0.0.3:18025",
                                     "--tokens-file", OwnerOnlyFile(tokens)});
    ASSERT_TRUE(gateway.Serving(milliseconds(5000)));
    auto whoami = [](const std::string& token) {
        httplib::Client client("127.0.0.3", 18025);
        testing::Recording(client);
        client.set_bearer_token_auth(token);
        const auto reply = client.Get("/api/whoami");
        return reply ? reply->status : -1;
    };
    EXPECT_EQ(whoami("wall-token-0123456789"), 200);
    EXPECT_EQ(whoami("new-token-0123456789"), 401);
    {
        std::ofstream out(tokens.Path());
        out << "newcomer viewer new-token-0123456789\nengineer admin root-token-0123456789\n";
    }
    gateway.Signal(SIGHUP);
    ASSERT_TRUE(testing::WaitUntil([&] { return whoami("new-token-0123456789") == 200; },
                                   milliseconds(3000)));
    EXPECT_EQ(whoami("wall-token-0123456789"), 401);
    EXPECT_NE(gateway.Errors().find("read the tokens file again"), std::string::npos);
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Exit(milliseconds(3000)), 0);
}

}  // namespace
}  // namespace gateway_roles_test
}  // namespace vantrel

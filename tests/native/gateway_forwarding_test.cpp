#include <gtest/gtest.h>

#include <sys/socket.h>

#include "gateway/api/forwarder.h"
#include "gateway/net/http_server.h"
#include "tests/support/in_process_gateway.h"
#include "tests/support/test_certificate.h"

namespace vantrel::testing {
namespace gateway_forwarding_test {
namespace {

using gateway::HttpResponse;
using gateway::Ownership;
using gateway::UnitOwner;

// Who drives each unit, as the test sets it (`otherwise` for the rest), and which units the
// API asked about.
class FakeOwners : public gateway::UnitOwners {
  public:
    void Set(const std::string& unit, UnitOwner owner) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_owners[unit] = std::move(owner);
    }
    UnitOwner OwnerOf(const std::string& unit) const override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_asked.push_back(unit);
        const auto owner = m_owners.find(unit);
        return owner == m_owners.end() ? otherwise : owner->second;
    }
    std::vector<std::string> Asked() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_asked;
    }

    UnitOwner otherwise;

  private:
    mutable std::mutex m_mutex;
    std::map<std::string, UnitOwner> m_owners;
    mutable std::vector<std::string> m_asked;
};

std::string RetryAfter(const HttpResponse& response) {
    return gateway::HeaderValue(response.headers, "Retry-After");
}

// A command with `headers` of the test's own, answered as the network core would have `api`
// answer it.
HttpResponse Post(gateway::Api& api, const std::string& path,
                  const gateway::HttpHeaders& headers = {}) {
    gateway::HttpRequest request{"POST", path, "", headers, "{}", "127.0.0.1"};
    request.headers.emplace_back("Host", "127.0.0.1:" + std::to_string(InProcessGateway::kPort));
    request.headers.emplace_back("Content-Type", "application/json");
    auto answer = std::make_shared<std::promise<HttpResponse>>();
    api.Serve(request, [answer](HttpResponse r) { answer->set_value(std::move(r)); });
    return InProcessGateway::Answer(answer->get_future());
}

// A listener that never accepts: it takes a connection, and a command sent on it, but never
// answers, as a gateway that took a command and then hung.
class SilentListener {
  public:
    SilentListener() : m_socket(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            listen(m_socket, 4) == 0 &&
            getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
            m_url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        }
    }
    ~SilentListener() { close(m_socket); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    /// Empty when it could not listen.
    const std::string& Url() const { return m_url; }

  private:
    int m_socket;
    std::string m_url;
};

// A press on a unit that a gateway served over loopback drives, sent to a second gateway that
// drives none: the second, "front", passes each command for "a" to the first, "owner".
class ForwardingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
        owner.api.SetListening(server.Port(), false, false);
        owner.api.SetOwners(ownerSees, ownerForwarder);
        owner.Start();
        ASSERT_TRUE(owner.AllUp());
        server.Start();
        frontSees.Set("a", {Ownership::kElsewhere, {"owner", OwnerUrl()}});
        front.api.SetOwners(frontSees, forwarder);
        for (gateway::Api* api : {&owner.api, &front.api}) api->SetClusterKey(kKey);
        forwarder.SetKey(kKey);
    }
    static inline const std::string kKey = "k1";
    std::string OwnerUrl() const { return "http://127.0.0.1:" + std::to_string(server.Port()); }

    HttpResponse Call(const std::string& path, const gateway::HttpHeaders& headers = {}) {
        return Post(front.api, path, headers);
    }

    InProcessGateway owner{{"a"}};
    FakeOwners ownerSees;  // the owner drives every unit
    gateway::Forwarder ownerForwarder{"owner", {}};
    gateway::HttpServer server{owner.api, {}};
    InProcessGateway front{{}};
    FakeOwners frontSees;
    gateway::Forwarder forwarder{"front", {std::chrono::milliseconds(500)}};
};

TEST_F(ForwardingTest, ACommandThroughANonOwnerRunsOnceOnTheOwnerAndIsAnsweredWithItsReply) {
    const HttpResponse pressed = Call("/api/units/a/press/mute");
    EXPECT_EQ(pressed.status, 200) << pressed.body;
    EXPECT_EQ(owner.Unit("a").Presses(), 1);
    EXPECT_EQ(InProcessGateway::Json(pressed)["unit"], "a");

    const HttpResponse refused = Call("/api/units/a/press/nonesuch");
    EXPECT_EQ(refused.status, 404);
    EXPECT_EQ(InProcessGateway::Json(refused)["error"], "no such button: nonesuch");
    EXPECT_EQ(owner.Unit("a").Presses(), 1);
    // The owner answered as the owner: the command is in its audit log, not the front's.
    EXPECT_EQ(owner.audit.Query("a", "", 10).size(), 2u);
    EXPECT_TRUE(front.audit.Query("a", "", 10).empty());
}

TEST_F(ForwardingTest, APassedCommandIsNeverPassedOnAgain) {
    // The owner believes the front drives "a", as two gateways may for a moment.
    ownerSees.Set("a", {Ownership::kElsewhere, {"front", "http://127.0.0.1:1"}});
    const HttpResponse bounced = Call("/api/units/a/press/mute");
    EXPECT_EQ(bounced.status, 503);
    EXPECT_EQ(RetryAfter(bounced), "1");
    EXPECT_NE(bounced.body.find("not driven by this gateway"), std::string::npos) << bounced.body;
    EXPECT_EQ(owner.Unit("a").Presses(), 0);

    // One that arrives already passed on is not passed from the front either; one that says so
    // without the cluster's key is refused outright.
    const HttpResponse again = Call("/api/units/a/press/mute",
                                    {{gateway::kForwardedBy, "x"}, {gateway::kClusterKey, kKey}});
    EXPECT_EQ(again.status, 503);
    EXPECT_EQ(Call("/api/units/a/press/mute", {{gateway::kForwardedBy, "x"}}).status, 403);
    EXPECT_EQ(owner.Unit("a").Presses(), 0);
    ownerSees.Set("a", {});
    EXPECT_EQ(Call("/api/units/a/press/mute").status, 200);
    EXPECT_EQ(owner.Unit("a").Presses(), 1);
}

TEST_F(ForwardingTest, NoOwnerOrAnUnreachableOneIsToBeAskedAgainButACommandTheOwnerTookIsNot) {
    frontSees.Set("a", {Ownership::kNobody, {}});
    const HttpResponse nobody = Call("/api/units/a/press/mute");
    EXPECT_EQ(nobody.status, 503);
    EXPECT_EQ(RetryAfter(nobody), "1");
    EXPECT_EQ(nobody.contentType, "application/json");
    EXPECT_TRUE(InProcessGateway::Json(nobody)["error"].is_string());

    // Nothing listens on port 1; and a silent listener takes the command but never answers.
    const SilentListener silent;
    ASSERT_FALSE(silent.Url().empty());
    gateway::Forwarder impatient{"front",
                                 {std::chrono::milliseconds(300), std::chrono::milliseconds(300)}};
    front.api.SetOwners(frontSees, impatient);
    // Refused to be asked again only when the command never went out; once it has, the
    // owner may have run it, and a second press would undo the first.
    struct Case {
        std::string url;
        int status;
        std::string retryAfter;
        std::string says;
    };
    for (const Case& c : {Case{"http://127.0.0.1:1", 503, "1", "gone did not answer"},
                          Case{silent.Url(), 504, "", "read the unit's state before sending"}}) {
        frontSees.Set("a", {Ownership::kElsewhere, {"gone", c.url}});
        const auto began = std::chrono::steady_clock::now();
        const HttpResponse unanswered = Call("/api/units/a/press/mute");
        EXPECT_LT(SecondsSince(began), 2.0) << c.url;
        EXPECT_EQ(unanswered.status, c.status) << c.url;
        EXPECT_EQ(RetryAfter(unanswered), c.retryAfter) << c.url;
        EXPECT_NE(unanswered.body.find(c.says), std::string::npos) << unanswered.body;
    }
    EXPECT_EQ(owner.Unit("a").Presses(), 0);
}

// What a cluster of gateways cannot easily be made to show: parts that never ran, or whose
// owner never answered, are told as such and stop a group that stops on failure.
TEST_F(ForwardingTest, AGroupsPartsNotRunOrNeverAnsweredElsewhereAreNeverDone) {
    const SilentListener silent;
    ASSERT_FALSE(silent.Url().empty());
    gateway::Forwarder impatient{"front",
                                 {std::chrono::milliseconds(300), std::chrono::milliseconds(300)}};
    // "a" is the owner's, "b" this gateway's, and "c" nobody's.
    InProcessGateway group{{"a", "b", "c"}};
    frontSees.Set("c", {Ownership::kNobody, {}});
    group.api.SetOwners(frontSees, forwarder);
    group.Start();
    ASSERT_TRUE(group.AllUp());
    auto entries = [&](const std::string& path, const std::string& body) {
        const HttpResponse answer = group.Call("POST", path, body);
        EXPECT_EQ(answer.status, 200) << answer.body;
        return InProcessGateway::Json(answer)["units"];
    };
    nlohmann::json units = entries("/api/groups/press/mute", R"({"select":["a","b","c"]})");
    ASSERT_EQ(units.size(), 3u) << units;
    EXPECT_EQ(units[0]["outcome"], "done") << units[0];
    EXPECT_EQ(units[1]["outcome"], "done") << units[1];
    EXPECT_EQ(units[2]["outcome"], "unavailable") << units[2];
    EXPECT_EQ(units[2]["status"], 503);
    EXPECT_EQ(owner.Unit("a").Presses(), 1);
    EXPECT_EQ(group.Unit("a").Presses() + group.Unit("c").Presses(), 0);
    EXPECT_EQ(group.Unit("b").Presses(), 1);

    // The group's confirmed count stands for the one-unit route's {"confirm": true} there.
    units = entries("/api/groups/factory-reset", R"({"select":["a"],"confirm":1})");
    EXPECT_EQ(units[0]["status"], 200) << units;

    // A unit passed on and not done stops the group like one run here.
    frontSees.Set("a", {Ownership::kNobody, {}});
    units = entries("/api/groups/press/mute", R"({"select":["a","b"],"stopOnFailure":true})");
    EXPECT_EQ(units[0]["outcome"], "unavailable") << units;
    EXPECT_EQ(units[1]["outcome"], "skipped") << units;
    EXPECT_EQ(group.Unit("b").Presses(), 1);

    // An owner that took the part and never answered may have run it.
    frontSees.Set("a", {Ownership::kElsewhere, {"hung", silent.Url()}});
    group.api.SetOwners(frontSees, impatient);
    units = entries("/api/groups/press/mute", R"({"select":["a"]})");
    EXPECT_EQ(units[0]["outcome"], "timed_out") << units;
    EXPECT_EQ(units[0]["done"], false);
}

// The owner plans and applies its unit's part from its own link, even where this gateway's own
// link could reach the unit; a unit that nobody drives, that its owner no longer does, or whose
// owner holds another version of the snapshot, is left unsent, to be asked again.
TEST_F(ForwardingTest, ASnapshotsPartsArePlannedAndAppliedByTheirOwners) {
    InProcessGateway group{{"a", "b", "c"}};  // "a" is the owner's, "b" its own, "c" nobody's
    frontSees.Set("c", {Ownership::kNobody, {}});
    group.Start();
    ASSERT_TRUE(group.AllUp());
    const std::string all = R"({"name":"s","select":"all"})";
    ASSERT_EQ(group.Call("POST", "/api/snapshots", all).status, 201);
    std::string why;  // the store every gateway shares
    ASSERT_TRUE(owner.api.Snapshots().Keep(*group.api.Snapshots().Find("s"), false, why) ==
                gateway::SnapshotBook::Change::kDone)
        << why;
    owner.Unit("a").Set(status_byte::kMixDown, 1);
    group.api.SetOwners(frontSees, forwarder);

    const nlohmann::json plans =
        InProcessGateway::Json(group.Call("POST", "/api/snapshots/s/validate", all))["units"];
    ASSERT_EQ(plans.size(), 3u) << plans;
    EXPECT_EQ(plans[0]["plan"],
              nlohmann::json::parse(R"([{"setting":"mixDown","live":1,"snapshot":0}])"))
        << plans;
    EXPECT_EQ(plans[1]["plan"], nlohmann::json::array()) << plans;
    EXPECT_EQ(plans[2]["refusal"]["reason"], "unit down") << plans;

    const HttpResponse applied = group.Call("POST", "/api/snapshots/s/apply", all);
    ASSERT_EQ(applied.status, 200) << applied.body;
    const nlohmann::json units = InProcessGateway::Json(applied)["units"];
    EXPECT_EQ(units[0]["steps"], nlohmann::json::parse(R"([{"setting":"mixDown","state":"done"}])"))
        << units;
    EXPECT_EQ(owner.Unit("a").Get(status_byte::kMixDown), 0);
    EXPECT_EQ(group.Unit("a").Presses(), 0);
    EXPECT_EQ(units[1]["done"], true) << units;
    EXPECT_EQ(units[2]["done"], false) << units;
    EXPECT_EQ(units[2].value("status", 0), 503) << units;

    ownerSees.Set("a", {Ownership::kElsewhere, {"front", "http://127.0.0.1:1"}});
    const nlohmann::json bounced =
        InProcessGateway::Json(group.Call("POST", "/api/snapshots/s/apply", all))["units"][0];
    EXPECT_EQ(bounced.value("status", 0), 503) << bounced;
    EXPECT_NE(bounced.value("error", "").find("not driven by this gateway"), std::string::npos);
    ownerSees.Set("a", {});

    // The owner, not yet seeing the snapshot taken again, would set the unit to other values.
    groups::Snapshot older = *owner.api.Snapshots().Find("s");
    older.takenAt = "2026-01-01T00:00:00.000Z";
    owner.api.Snapshots().Keep(older, true, why);
    owner.Unit("a").Set(status_byte::kMixDown, 1);
    const nlohmann::json stale =
        InProcessGateway::Json(group.Call("POST", "/api/snapshots/s/apply", all))["units"][0];
    EXPECT_EQ(stale.value("status", 0), 409) << stale;
    EXPECT_EQ(owner.Unit("a").Get(status_byte::kMixDown), 1);
}

// A capture and a diff read a unit driven elsewhere on its owner's link, and only the gateway
// that took the capture keeps it; a unit nobody drives is left out, or down, with why.
TEST_F(ForwardingTest, ACapturesAndADiffsUnitsAreReadByTheirOwners) {
    InProcessGateway group{{"a", "b", "c"}};  // "a" is the owner's, "b" its own, "c" nobody's
    frontSees.Set("c", {Ownership::kNobody, {}});
    group.Start();
    ASSERT_TRUE(group.AllUp());
    group.api.SetOwners(frontSees, forwarder);
    owner.Unit("a").Set(status_byte::kMixDown, 1);

    const HttpResponse taken =
        group.Call("POST", "/api/snapshots", R"({"name":"t","select":"all"})");
    ASSERT_EQ(taken.status, 201) << taken.body;
    const nlohmann::json units = InProcessGateway::Json(taken)["units"];
    ASSERT_EQ(units.size(), 3u) << units;
    EXPECT_EQ(units[0]["captured"], true) << units;
    EXPECT_EQ(units[1]["captured"], true) << units;
    EXPECT_EQ(units[2]["captured"], false) << units;
    EXPECT_NE(units[2].value("error", "").find("no gateway drives"), std::string::npos) << units;
    std::optional<groups::Snapshot> kept = group.api.Snapshots().Find("t");
    ASSERT_TRUE(kept);
    ASSERT_EQ(kept->units.size(), 2u);
    EXPECT_EQ(kept->Find("a")->values.at(groups::Setting::kMixDown), 1);
    EXPECT_FALSE(owner.api.Snapshots().Find("t"));

    kept->units.push_back({"c", "", kept->units[1].settings});
    std::string why;  // the store every gateway shares
    for (InProcessGateway* gateway : {&group, &owner}) {
        ASSERT_TRUE(gateway->api.Snapshots().Keep(*kept, true, why) ==
                    gateway::SnapshotBook::Change::kDone)
            << why;
    }
    owner.Unit("a").Set(status_byte::kMixDown, 0);
    const nlohmann::json diff =
        InProcessGateway::Json(group.Call("GET", "/api/snapshots/t/diff"))["units"];
    ASSERT_EQ(diff.size(), 3u) << diff;
    EXPECT_EQ(diff[0]["differs"],
              nlohmann::json::parse(R"([{"setting":"mixDown","live":0,"snapshot":1}])"))
        << diff;
    EXPECT_EQ(diff[1]["down"], false) << diff;
    EXPECT_EQ(diff[2]["down"], true) << diff;
    EXPECT_NE(diff[2].value("error", "").find("no gateway drives"), std::string::npos) << diff;
}

TEST_F(ForwardingTest, OnlyCommandsOnAUnitWithAPlainNameArePassedOn) {
    frontSees.otherwise = {Ownership::kElsewhere, {"owner", OwnerUrl()}};
    for (const char* hostile : {"/api/units/../press/mute", "/api/units/a?b/press/mute",
                                "/api/units/a b/press/mute", "/api/units/%2e%2e/press/mute"}) {
        EXPECT_EQ(Call(hostile).status, 404) << hostile;  // answered here: no such unit
    }
    // Reads and the units' own changes are not commands to a unit's link.
    EXPECT_EQ(front.Call("GET", "/api/units/a").status, 404);
    front.Call("PUT", "/api/units/a/desired", "{}");
    EXPECT_EQ(frontSees.Asked(), std::vector<std::string>{});
    EXPECT_EQ(owner.Unit("a").Presses(), 0);
}

TEST(ForwardingOverTlsTest, AnOwnerOverHttpsIsPassedCommandsOnlyWhenItsCertificateIsTrusted) {
    const TestCertificate certificate("forwarding", 0, 3600);
    ASSERT_TRUE(certificate.Made());
    InProcessGateway owner{{"a"}};
    gateway::HttpServer server{owner.api, {}};
    std::string error;
    gateway::CertificateDates dates;
    ASSERT_TRUE(server.UseTls(certificate.Certificate(), certificate.Key(), dates, error)) << error;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
    owner.api.SetListening(server.Port(), true, false);
    owner.api.SetClusterKey("k");
    owner.Start();
    ASSERT_TRUE(owner.AllUp());
    server.Start();

    InProcessGateway front{{}};
    FakeOwners sees;
    sees.otherwise = {Ownership::kElsewhere,
                      {"owner", "https://127.0.0.1:" + std::to_string(server.Port())}};
    gateway::Forwarder wary{"front", {}};
    front.api.SetOwners(sees, wary);
    EXPECT_EQ(Post(front.api, "/api/units/a/press/mute").status, 503);
    EXPECT_EQ(owner.Unit("a").Presses(), 0);

    gateway::Forwarder trusting{"front", {}, certificate.Certificate()};
    trusting.SetKey("k");
    front.api.SetOwners(sees, trusting);
    const HttpResponse pressed = Post(front.api, "/api/units/a/press/mute");
    EXPECT_EQ(pressed.status, 200) << pressed.body;
    EXPECT_EQ(owner.Unit("a").Presses(), 1);
}

TEST(ForwardedCall, CarriesTheRequestWithTheClientsTokenAndNamesTheGatewayPassingIt) {
    const gateway::HttpRequest request{"POST",
                                       "/api/units/a b%/level/volume",
                                       "x=1&y=%20",
                                       {{"authorization", "Bearer t"},
                                        {"Content-Type", "application/json"},
                                        {"Origin", "http://127.0.0.1:8023"},
                                        {"Cookie", "c=1"}},
                                       "{\"value\":3}",
                                       "127.0.0.1"};
    const gateway::HttpCall call = gateway::ForwardedCall(request, "gw-1", "k");
    EXPECT_EQ(call.method, "POST");
    EXPECT_EQ(call.target, "/api/units/a%20b%25/level/volume?x=1&y=%20");
    EXPECT_EQ(call.body, request.body);
    const gateway::HttpHeaders expected{{gateway::kForwardedBy, "gw-1"},
                                        {gateway::kClusterKey, "k"},
                                        {"Authorization", "Bearer t"},
                                        {"Content-Type", "application/json"}};
    EXPECT_EQ(call.headers, expected);
}

}  // namespace
}  // namespace gateway_forwarding_test
}  // namespace vantrel::testing

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
    }
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

    // One that arrives already passed on is not passed from the front either.
    const HttpResponse again = Call("/api/units/a/press/mute", {{gateway::kForwardedBy, "x"}});
    EXPECT_EQ(again.status, 503);
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

// A snapshot apply is not passed on: a unit driven elsewhere is refused, naming its gateway,
// even where this gateway's own link could reach it.
TEST_F(ForwardingTest, ASnapshotApplyLeavesAUnitDrivenElsewhereUnsent) {
    InProcessGateway group{{"a", "b"}};
    group.Start();
    ASSERT_TRUE(group.AllUp());
    ASSERT_EQ(group.Call("POST", "/api/snapshots", R"({"name":"s","select":"all"})").status, 201);
    group.api.SetOwners(frontSees, forwarder);
    const HttpResponse applied =
        group.Call("POST", "/api/snapshots/s/apply", R"({"select":"all"})");
    ASSERT_EQ(applied.status, 200) << applied.body;
    const nlohmann::json units = InProcessGateway::Json(applied)["units"];
    EXPECT_EQ(units[0]["done"], false) << units;
    EXPECT_NE(units[0].value("error", "").find("gateway owner"), std::string::npos) << units;
    EXPECT_EQ(units[1]["done"], true) << units;
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
    const gateway::HttpCall call = gateway::ForwardedCall(request, "gw-1");
    EXPECT_EQ(call.method, "POST");
    EXPECT_EQ(call.target, "/api/units/a%20b%25/level/volume?x=1&y=%20");
    EXPECT_EQ(call.body, request.body);
    const gateway::HttpHeaders expected{{gateway::kForwardedBy, "gw-1"},
                                        {"Authorization", "Bearer t"},
                                        {"Content-Type", "application/json"}};
    EXPECT_EQ(call.headers, expected);
}

}  // namespace
}  // namespace gateway_forwarding_test
}  // namespace vantrel::testing

#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "gateway/cluster/etcd_client.h"
#include "gateway/cluster/etcd_watch.h"
#include "tests/support/etcd_server.h"
#include "tests/support/running_gateway.h"
#include "tests/support/sanitized.h"
#include "tests/support/test_authority.h"

namespace vantrel::gateway::cluster {
namespace etcd_client_test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::EtcdServer;
using testing::WaitUntil;

class EtcdClientTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(etcd.Running()) << etcd.Error(); }

    EtcdServer etcd;
    EtcdClient client{{etcd.Place()}, milliseconds(2000)};
};

TEST_F(EtcdClientTest, KeysArePutReadByPrefixAndDeleted) {
    const std::string binary("two\nlines\0\xff", 11);
    ASSERT_TRUE(client.Put("/t/a", "1").Ok());
    const auto put = client.Put("/t/b", binary);
    ASSERT_TRUE(put.Ok()) << put.GetError().text;
    ASSERT_TRUE(client.Put("/u", "not under /t/").Ok());

    const auto read = client.GetPrefix("/t/");
    ASSERT_TRUE(read.Ok()) << read.GetError().text;
    ASSERT_EQ(read.Value().kvs.size(), 2u);
    EXPECT_EQ(read.Value().kvs[0].key, "/t/a");
    EXPECT_EQ(read.Value().kvs[1].value, binary);
    EXPECT_EQ(read.Value().kvs[1].modRevision, put.Value());
    EXPECT_EQ(read.Value().revision, put.Value() + 1);
    EXPECT_TRUE(client.Get("/t/none").Value().kvs.empty());

    EXPECT_EQ(client.Delete("/t/a").Value(), 1);
    EXPECT_EQ(client.Delete("/t/a").Value(), 0);
    EXPECT_EQ(client.GetPrefix("/t/").Value().kvs.size(), 1u);
}

TEST_F(EtcdClientTest, OfTwoClaimantsOneWinsAndOnlyTheHolderOfTheLatestRevisionMayChangeIt) {
    EtcdClient other{{etcd.Place()}, milliseconds(2000)};
    std::atomic<int> won{0};
    std::thread first(
        [&] { won += client.PutIf("/claim", Condition::Absent(), "first").Value() != 0; });
    std::thread second(
        [&] { won += other.PutIf("/claim", Condition::Absent(), "second").Value() != 0; });
    first.join();
    second.join();
    EXPECT_EQ(won, 1);

    const KeyValue held = client.Get("/claim").Value().kvs.at(0);
    EXPECT_FALSE(client.PutIf("/claim", Condition::ModRevision(held.modRevision - 1), "x").Value());
    EXPECT_FALSE(client.PutIf("/claim", Condition::Value("nobody"), "x").Value());
    EXPECT_TRUE(client.PutIf("/claim", Condition::Value(held.value), "again").Value());
    EXPECT_EQ(client.Get("/claim").Value().kvs.at(0).value, "again");
}

TEST_F(EtcdClientTest, ALeasesKeysGoWhenItIsRevokedOrExpires) {
    const auto revoked = client.Grant(seconds(30));
    ASSERT_TRUE(revoked.Ok()) << revoked.GetError().text;
    ASSERT_TRUE(client.Put("/owned/1", "me", revoked.Value().id).Ok());
    EXPECT_EQ(client.Get("/owned/1").Value().kvs.at(0).lease, revoked.Value().id);
    EXPECT_EQ(client.KeepAlive(revoked.Value().id).Value(), seconds(30));
    EXPECT_FALSE(client.Revoke(revoked.Value().id));
    EXPECT_TRUE(client.Get("/owned/1").Value().kvs.empty());
    EXPECT_EQ(client.KeepAlive(revoked.Value().id).GetError().fault, EtcdFault::kNoLease);
    EXPECT_EQ(client.Put("/owned/1", "me", revoked.Value().id).GetError().fault,
              EtcdFault::kNoLease);

    const auto expiring = client.Grant(seconds(1));
    ASSERT_TRUE(client.Put("/owned/2", "me", expiring.Value().id).Ok());
    EXPECT_TRUE(WaitUntil([&] { return client.Get("/owned/2").Value().kvs.empty(); }, seconds(5)));
}

/// What a watch has seen, for the test's thread to wait on.
struct Seen {
    std::mutex mutex;
    std::vector<WatchEvent> events;
    std::optional<EtcdError> ended;

    EtcdWatch::Changes Changes() {
        return [this](const std::vector<WatchEvent>& changes, std::int64_t) {
            std::lock_guard<std::mutex> lock(mutex);
            events.insert(events.end(), changes.begin(), changes.end());
        };
    }
    EtcdWatch::Ended Ended() {
        return [this](const EtcdError& error) {
            std::lock_guard<std::mutex> lock(mutex);
            ended = error;
        };
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return events.size();
    }
    bool HasEnded() {
        std::lock_guard<std::mutex> lock(mutex);
        return ended.has_value();
    }
};

TEST_F(EtcdClientTest, AWatchSeesEachChangeUnderItsPrefixWithinASecond) {
    const auto start = client.Put("/w/before", "0");
    ASSERT_TRUE(start.Ok());
    Seen seen;
    EtcdWatch watch(client, etcd.Place(), "/w/", start.Value() + 1, milliseconds(2000),
                    seen.Changes(), seen.Ended());
    ASSERT_TRUE(client.Put("/w/a", "1").Ok());
    EXPECT_TRUE(WaitUntil([&] { return seen.Count() == 1; }, milliseconds(1000)));
    ASSERT_TRUE(client.Put("/elsewhere", "1").Ok());
    ASSERT_TRUE(client.Delete("/w/a").Ok());
    ASSERT_TRUE(WaitUntil([&] { return seen.Count() == 2; }, milliseconds(1000)));

    std::lock_guard<std::mutex> lock(seen.mutex);
    EXPECT_FALSE(seen.events[0].deleted);
    EXPECT_EQ(seen.events[0].kv.key, "/w/a");
    EXPECT_EQ(seen.events[0].kv.value, "1");
    EXPECT_TRUE(seen.events[1].deleted);
    EXPECT_EQ(seen.events[1].kv.key, "/w/a");
    EXPECT_FALSE(seen.ended);
}

TEST_F(EtcdClientTest, EtcdGoingDownOrSilentIsAnErrorWithinTheLimitAndItsReturnIsTakenUp) {
    ASSERT_TRUE(client.Put("/kept", "1").Ok());
    Seen seen;
    EtcdWatch watch(client, etcd.Place(), "/", 0, milliseconds(2000), seen.Changes(), seen.Ended());
    etcd.Stop();
    EXPECT_EQ(client.Put("/k", "v").GetError().fault, EtcdFault::kUnreachable);
    EXPECT_TRUE(WaitUntil([&] { return seen.HasEnded(); }, seconds(2)));
    EXPECT_EQ(seen.ended->fault, EtcdFault::kUnreachable);

    ASSERT_TRUE(etcd.Start()) << etcd.Error();
    EXPECT_EQ(client.Get("/kept").Value().kvs.at(0).value, "1");
    // A member that cannot be reached is passed over for the next.
    EtcdClient twoMembers{
        {{"127.0.0.1", static_cast<std::uint16_t>(testing::FreeLoopbackPorts(1)[0])}, etcd.Place()},
        milliseconds(2000)};
    EXPECT_TRUE(twoMembers.Put("/k", "v").Ok());

    EtcdClient impatient{{etcd.Place()}, milliseconds(300)};
    etcd.Pause();
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(impatient.Put("/k", "v").GetError().fault, EtcdFault::kTimedOut);
    EXPECT_LT(testing::SecondsSince(began), 1.5);
    etcd.Continue();
}

TEST(EtcdClient, MembersAreGivenAsHttpOrHttpsWithANumericAddressAndAPort) {
    const auto member = ParseUrl("http://127.0.0.1:2379/");
    ASSERT_TRUE(member);
    EXPECT_EQ(member->address, "127.0.0.1");
    EXPECT_EQ(member->port, 2379);
    EXPECT_FALSE(member->tls);
    EXPECT_TRUE(ParseUrl("https://127.0.0.1:2379")->tls);
    for (const char* refused : {"ftp://127.0.0.1:2379", "http://etcd1:2379", "http://127.0.0.1",
                                "http://127.0.0.1:0", "http://127.0.0.1:65536", "http://:2379"}) {
        EXPECT_FALSE(ParseUrl(refused)) << refused;
    }
}

/// A stand-in for etcd on a free port of 127.0.0.1, answering as the test sets it up.
struct StandInEtcd {
    httplib::Server server;
    std::thread serving;

    HttpPlace Start() {
        const int port = server.bind_to_any_port("127.0.0.1");
        serving = std::thread([this] { server.listen_after_bind(); });
        WaitUntil([&] { return server.is_running(); }, seconds(2));
        return {"127.0.0.1", static_cast<std::uint16_t>(port)};
    }
    ~StandInEtcd() {
        server.stop();
        if (serving.joinable()) serving.join();
    }
};

TEST(EtcdClient, AnAnswerThatIsNotEtcdsIsABadReplyAndARefusalOrACancelledWatchCarriesItsReason) {
    StandInEtcd standIn;
    httplib::Server& server = standIn.server;
    server.Post("/v3/kv/range", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<html>a proxy's page</html>", "text/html");
    });
    server.Post("/v3/kv/put", [](const httplib::Request&, httplib::Response& response) {
        response.status = 400;
        response.set_content(R"({"error":"etcdserver: too many requests","code":14})",
                             "application/json");
    });
    // A change whose line comes in two pieces, then the watch cancelled.
    server.Post("/v3/watch", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/json", [](std::size_t,
                                                                     httplib::DataSink& sink) {
            const std::string change =
                R"({"result":{"header":{"revision":"7"},"events":[{"kv":{"key":"L3cvYQ==",)"
                R"("value":"MQ==","mod_revision":"7"}}]}})"
                "\n";
            const std::string cancel = R"({"result":{"header":{"revision":"7"},"canceled":true,)"
                                       R"("cancel_reason":"compacted"}})"
                                       "\n";
            sink.write(change.data(), 30);
            sink.write(change.data() + 30, change.size() - 30);
            sink.write(cancel.data(), cancel.size());
            sink.done();
            return true;
        });
    });
    const HttpPlace place = standIn.Start();
    EtcdClient client{{place}, milliseconds(2000)};

    EXPECT_EQ(client.Get("/k").GetError().fault, EtcdFault::kBadReply);
    const auto refused = client.Put("/k", "v");
    EXPECT_EQ(refused.GetError().fault, EtcdFault::kRejected);
    EXPECT_NE(refused.GetError().text.find("too many requests"), std::string::npos);

    Seen seen;
    EtcdWatch watch(client, place, "/w/", 0, milliseconds(2000), seen.Changes(), seen.Ended());
    ASSERT_TRUE(WaitUntil([&] { return seen.HasEnded(); }, seconds(2)));
    EXPECT_EQ(seen.ended->fault, EtcdFault::kRejected);
    EXPECT_NE(seen.ended->text.find("compacted"), std::string::npos);
    ASSERT_EQ(seen.Count(), 1u);
    EXPECT_EQ(seen.events[0].kv.key, "/w/a");
    EXPECT_EQ(seen.events[0].kv.value, "1");
}

/// etcd over TLS, asking for a client certificate, with authentication on and tokens that live
/// 2 s unused; the user "gw" may use the keys under /gw/ alone.
class EtcdAccessTest : public ::testing::Test {
  protected:
    // A call's limit: on a loaded machine a sanitized build's TLS handshake and etcd's check of
    // the password took over 2 s together.
    static constexpr milliseconds kAuthLimit{testing::kSanitized ? 5000 : 2000};

    static void SetUpTestSuite() {
        authority = std::make_unique<testing::TestAuthority>();
        etcd = std::make_unique<EtcdServer>(testing::EtcdSecurity{authority.get(), 2});
        authEnabled = etcd->Running() && etcd->EnableAuth("gw", "gw-secret", "/gw/");
    }
    static void TearDownTestSuite() {
        etcd.reset();
        authority.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(authority->Made()) << authority->Log();
        ASSERT_TRUE(authEnabled) << etcd->Error();
    }

    static EtcdAccess Access(const std::string& authorities, bool showCertificate = true,
                             const std::string& password = "gw-secret") {
        ClientTlsFiles files{authorities, "", ""};
        if (showCertificate)
            files = {authorities, authority->ClientCertificate(), authority->ClientKey()};
        const ClientTls::Made tls = ClientTls::Make(files);
        EXPECT_TRUE(tls.Ok()) << tls.GetError();
        return {tls.Ok() ? tls.Value() : nullptr, "gw", password};
    }

    static inline std::unique_ptr<testing::TestAuthority> authority;
    static inline std::unique_ptr<EtcdServer> etcd;
    static inline bool authEnabled = false;
};

TEST_F(EtcdAccessTest, OverTlsWithAClientCertificateAUserPutsReadsAndWatchesUnderItsPrefix) {
    EtcdClient client{{etcd->Place()}, kAuthLimit, Access(authority->Authority())};
    const auto put = client.Put("/gw/a", "1");
    ASSERT_TRUE(put.Ok()) << put.GetError().text;
    Seen seen;
    EtcdWatch watch(client, etcd->Place(), "/gw/", put.Value() + 1, milliseconds(2000),
                    seen.Changes(), seen.Ended());
    ASSERT_TRUE(client.Put("/gw/b", "2").Ok());
    EXPECT_TRUE(WaitUntil([&] { return seen.Count() == 1; }, milliseconds(1000)));
    EXPECT_EQ(client.GetPrefix("/gw/").Value().kvs.size(), 2u);
    EXPECT_EQ(client.Put("/elsewhere", "1").GetError().fault, EtcdFault::kUnauthorized);
    EXPECT_FALSE(seen.HasEnded());
}

TEST_F(EtcdAccessTest, AnotherAuthorityNoClientCertificateOrAWrongUserIsRefusedWithTheReason) {
    const testing::TestAuthority other;
    struct Case {
        const char* what;
        EtcdAccess access;
        EtcdFault fault;
        const char* words;
    };
    const EtcdAccess nobody{Access(authority->Authority()).tls, "", ""};
    for (const Case& refused : {
             Case{"another authority", Access(other.Authority()), EtcdFault::kUntrusted,
                  "the certificate it showed: unable to get local issuer certificate"},
             Case{"no client certificate", Access(authority->Authority(), false),
                  EtcdFault::kUntrusted, "bad certificate"},
             Case{"a wrong password", Access(authority->Authority(), true, "gw-secret!"),
                  EtcdFault::kUnauthorized, "refused the user gw: etcdserver: authentication"},
             Case{"no user", nobody, EtcdFault::kUnauthorized, "refused"},
         }) {
        EtcdClient client{{etcd->Place()}, kAuthLimit, refused.access};
        const auto read = client.Get("/gw/a");
        ASSERT_FALSE(read.Ok()) << refused.what;
        EXPECT_EQ(read.GetError().fault, refused.fault)
            << refused.what << ": " << read.GetError().text;
        EXPECT_NE(read.GetError().text.find(refused.words), std::string::npos)
            << refused.what << ": " << read.GetError().text;
    }
}

TEST_F(EtcdAccessTest, ATokenEtcdNoLongerTakesIsReplacedUnseenForACallAndAWatch) {
    EtcdClient calls{{etcd->Place()}, kAuthLimit, Access(authority->Authority())};
    EtcdClient watches{{etcd->Place()}, kAuthLimit, Access(authority->Authority())};
    ASSERT_TRUE(calls.Put("/gw/t", "1").Ok());
    ASSERT_TRUE(watches.Get("/gw/t").Ok());
    HttpClient http(calls.Tls());
    const std::string first =
        calls.Token(http, std::chrono::steady_clock::now() + seconds(2)).Value();
    // etcd takes the tokens it gave a user back when the user's password is set again, as it
    // does when they expire: the client cannot tell which.
    ASSERT_TRUE(etcd->SetPassword("gw", "gw-secret")) << etcd->Error();

    const auto put = calls.Put("/gw/t", "2");
    ASSERT_TRUE(put.Ok()) << put.GetError().text;
    EXPECT_NE(calls.Token(http, std::chrono::steady_clock::now() + seconds(2)).Value(), first);
    Seen seen;
    EtcdWatch watch(watches, etcd->Place(), "/gw/", put.Value(), milliseconds(2000), seen.Changes(),
                    seen.Ended());
    EXPECT_TRUE(WaitUntil([&] { return seen.Count() == 1; }, milliseconds(2000)));
    EXPECT_FALSE(seen.HasEnded());
}

}  // namespace
}  // namespace etcd_client_test
}  // namespace vantrel::gateway::cluster

// A tokens file that cannot be taken never opens the gateway: emptied, all comments, a folder,
// another user's file reached through a link, a file others may read, a token under two names.
// The tokens in force stay, also while a config tool truncates and rewrites the file.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gateway/access/access.h"
#include "tests/support/raw_client.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_tokens_test {
namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

const char* const kTokens =
    "  # the desk, and the engineer whose token holds a #\n"
    "desk operator desk-token-0123456789\n"
    "root admin    root#token-0123456789  # a comment after the token\n";

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
    chmod(path.c_str(), 0600);
}

// A gateway on 127.0.0.3 with the tokens file `path`, in a folder of its own.
struct TokensGateway {
    explicit TokensGateway(const std::string& name)
        : folder(fs::temp_directory_path() / ("vantrel-" + name + std::to_string(getpid()))),
          path((folder / "tokens").string()) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        Write(path, kTokens);
        gw = std::make_unique<testing::RunningGateway>(
            1, "127.0.0.3", std::nullopt, sim::Faults{},
            [&](gateway::GatewayOptions& o) { o.tokensFile = path; });
    }
    ~TokensGateway() {
        gw.reset();
        fs::remove_all(folder);
    }

    // GET /api/whoami's status with `token` (none: without one), its Host the gateway's own
    // loopback name, which a client writes as it likes.
    int WhoAmI(const char* token) const {
        std::string request =
            "GET /api/whoami HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(gw->service->Port()) +
            "\r\n";
        if (token) request += std::string("Authorization: Bearer ") + token + "\r\n";
        testing::RawClient client(gw->host, gw->service->Port());
        client.Send(request + "\r\n");
        return client.Response(milliseconds(5000));
    }

    const fs::path folder;
    const std::string path;
    std::unique_ptr<testing::RunningGateway> gw;
};

TEST(GatewayTokensFileTest, AFileThatCannotBeTakenLeavesTheTokensInForce) {
    TokensGateway t("tokens-refused");
    ASSERT_TRUE(t.gw->started) << t.gw->error;
    // A # inside a token is part of it.
    EXPECT_EQ(t.WhoAmI("root#token-0123456789"), 200);
    EXPECT_EQ(t.WhoAmI("root"), 401);

    const std::string other = (t.folder / "others").string();
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string reason;
        bool tokenFileToo;  // --token-file refuses it as well
    };
    const std::vector<Case> cases{
        {"emptied", [&] { Write(t.path, ""); }, t.path + " holds no token", false},
        {"all comments", [&] { Write(t.path, "# desk\n\t # root\n\n"); },
         t.path + " holds no token", false},
        {"a folder",
         [&] {
             fs::remove(t.path);
             fs::create_directory(t.path);
         },
         t.path + " is not a regular file", true},
        {"another user's file through a link",
         [&] {
             Write(other, "desk operator desk-token-0123456789\nx admin x-token-0123456789xx\n");
             ASSERT_EQ(chown(other.c_str(), 4242, 4242), 0);
             fs::remove(t.path);
             fs::create_symlink(other, t.path);
         },
         t.path + " is owned by uid 4242, not by the gateway's user", true},
        {"mode 0640",
         [&] {
             Write(t.path, "desk operator desk-token-0123456789\n");
             chmod(t.path.c_str(), 0640);
         },
         "others than its owner may read " + t.path + ": chmod 600 it", true},
        {"a token under two names",
         [&] { Write(t.path, "a viewer same-token-0123456789\nb admin same-token-0123456789\n"); },
         t.path + ":2: the token of b is given on line 1 already", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        std::string why;
        EXPECT_FALSE(t.gw->service->ReloadTokens(why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(t.WhoAmI("desk-token-0123456789"), 200);
        EXPECT_EQ(t.WhoAmI("root#token-0123456789"), 200);
        EXPECT_EQ(t.WhoAmI(nullptr), 401);
        EXPECT_EQ(t.WhoAmI("x-token-0123456789xx"), 401);
        if (c.tokenFileToo) {
            EXPECT_FALSE(gateway::ReadTokenFile(t.path, why));
        }
        fs::remove_all(t.path);
        Write(t.path, kTokens);
    }
}

// A config tool truncates the file, the gateway is told to read it, then the tool writes it:
// no reload in that window, nor any request during the rounds, is served without a token.
TEST(GatewayTokensFileTest, ReloadsBetweenTruncateAndRewriteNeverServeWithoutAToken) {
    TokensGateway t("tokens-race");
    ASSERT_TRUE(t.gw->started) << t.gw->error;
    std::atomic<bool> done{false};
    std::atomic<int> asked{0}, served{0};
    std::thread client([&] {
        while (!done) {
            ++asked;
            if (t.WhoAmI(nullptr) == 200) ++served;
        }
    });
    for (int round = 0; round < 200; ++round) {
        std::string why;
        std::ofstream(t.path, std::ios::trunc).close();
        EXPECT_FALSE(t.gw->service->ReloadTokens(why)) << round;
        EXPECT_EQ(t.WhoAmI(nullptr), 401) << round;
        Write(t.path, kTokens);
        EXPECT_TRUE(t.gw->service->ReloadTokens(why)) << why;
    }
    done = true;
    client.join();
    EXPECT_GT(asked.load(), 0);
    EXPECT_EQ(served.load(), 0);
    EXPECT_EQ(t.WhoAmI("desk-token-0123456789"), 200);
}

}  // namespace
}  // namespace gateway_tokens_test
}  // namespace vantrel

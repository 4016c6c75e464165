// A request head as a client could send it, through Beast's parser and the server's own head to
// request conversion, then the gateway's admission, with tokens of each role and with none on
// an address that needs them. Whatever is admitted must be a route of the table, taken by a
// token whose role is at least the route's, from the gateway's own origin where the route asks.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "gateway/api/api.h"
#include "gateway/net/request_head.h"
#include "gateway/api/routes.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace http = boost::beast::http;
using namespace vantrel::gateway;
using vantrel::fuzzing::Require;

constexpr int kPort = 8023;
constexpr const char* kHost = "127.0.0.1:8023";

struct TokenOf {
    const char* token;
    Role role;
};
constexpr TokenOf kTokens[] = {{"viewer-token-0123456789", Role::kViewer},
                               {"operator-token-0123456789", Role::kOperator},
                               {"admin-token-0123456789", Role::kAdmin}};

// The role the first Authorization header gives, read here without the gateway's own code.
std::optional<Role> RoleOf(const http::request_header<>& head) {
    const auto found = head.find(http::field::authorization);
    if (found == head.end()) return std::nullopt;
    const std::string value(found->value());
    if (value.size() < 7 || strncasecmp(value.c_str(), "bearer ", 7) != 0) return std::nullopt;
    for (const TokenOf& entry : kTokens) {
        if (value.substr(7) == entry.token) return entry.role;
    }
    return std::nullopt;
}

// An Api over no units, with the three tokens (`withTokens`) or none, on an address that needs
// them: Admit asks nothing of the units.
struct Gateway {
    explicit Gateway(bool withTokens) {
        if (withTokens) {
            char path[] = "/tmp/vantrel-fuzz-tokens-XXXXXX";
            const int fd = mkstemp(path);
            Require(fd >= 0, "a tokens file can be made");
            std::string text;
            for (const TokenOf& entry : kTokens) {
                text += std::string(RoleName(entry.role)) + " " + RoleName(entry.role) + " " +
                        entry.token + "\n";
            }
            Require(write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
                    "the tokens file is written");
            close(fd);
            chmod(path, 0600);
            std::string why;
            Require(tokens.Load(path, why), "the tokens file is read");
            unlink(path);
        }
        api.SetListening(kPort, false, true);
    }
    Units units{WaitableClock::System(), RealLinks(WaitableClock::System()), {}};
    EventHub hub{4};
    FirmwareJobs jobs{units, hub, WaitableClock::System()};
    Tokens tokens;
    AuditLog audit;
    Api api{units, hub, jobs, tokens, audit};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Gateway withTokens(true);
    static Gateway withNone(false);

    http::request_parser<http::string_body> parser;
    parser.header_limit(16 * 1024);
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(data, size), ec);
    if (ec && ec != http::error::need_more) return 0;
    if (!parser.is_header_done()) return 0;
    const http::request_header<>& head = parser.get();

    const std::optional<HttpRequest> request = RequestOf(head, "127.0.0.1");
    const std::string target(head.target());
    const bool path = !target.empty() && target[0] == '/';
    Require(request.has_value() == path, "only a target that is a path becomes a request");
    HttpRequest asked;
    if (request) {
        asked = *request;
    } else {
        // Handed over as is, it must still land on no route.
        asked.method = std::string(head.method_string());
        asked.path = target;
        for (const auto& field : head) {
            asked.headers.emplace_back(std::string(field.name_string()),
                                       std::string(field.value()));
        }
    }

    const RouteMatch match = FindRoute(Api::Routes(), asked.method, asked.path);
    std::size_t limit = 0;
    if (!withTokens.api.Admit(asked, limit)) {
        Require(path, "no target but a path is admitted");
        Require(match.route != nullptr, "nothing outside the route table is admitted");
        Require(limit == match.route->bodyLimit, "the body limit is the route's");
        if (match.route->least) {
            const std::optional<Role> role = RoleOf(head);
            Require(role && *role >= *match.route->least, "a token's role reaches the route's");
        }
        const auto origin = head.find(http::field::origin);
        if (match.route->ownOrigin && origin != head.end()) {
            const std::string own = std::string("http://") + asked.Header("Host");
            Require(strcasecmp(std::string(origin->value()).c_str(), own.c_str()) == 0,
                    "a route that asks for the own origin gets it");
        }
    }
    if (!withNone.api.Admit(asked, limit)) {
        Require(match.route && !match.route->least,
                "with no tokens where they are needed, only what needs no role is admitted");
        const std::string host = asked.Header("Host");
        Require(host == kHost || host == "[::1]:8023" ||
                    strcasecmp(host.c_str(), "localhost:8023") == 0,
                "without tokens, only the loopback names are answered");
    }
    return 0;
}

// How the program ends when it cannot start: 2 for a mistake in its options or the files they
// name, which starting again cannot mend, and EX_TEMPFAIL for what may pass by itself; the unit
// file restarts the one and not the other.
#include <httplib.h>
#include <grp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sysexits.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/gateway_process.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace gateway_startup_test {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLimit(5000);

struct Ended {
    std::optional<int> code;
    std::string errors;
};

// A gateway that is to end by itself: how it ended and what it said.
Ended RunToEnd(std::vector<std::string> arguments, const std::function<void()>& inChild = {}) {
    testing::GatewayProcess gateway(std::move(arguments), inChild);
    Ended ended{gateway.Exit(kLimit), ""};
    ended.errors = gateway.Errors();
    return ended;
}

// In the child: a network namespace of its own whose lo holds 127.0.0.2 alone, so that
// 127.0.0.1 is an address not up (yet). Only system calls, as after a fork.
void OnlyOneAddressUp() {
    // The socket after the namespace: its ioctls change the namespace it was made in.
    if (unshare(CLONE_NEWNET) != 0) _exit(126);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    if (ioctl(fd, SIOCGIFFLAGS, &request) != 0) _exit(126);
    request.ifr_flags |= IFF_UP;
    if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) _exit(126);
    auto* address = reinterpret_cast<sockaddr_in*>(&request.ifr_addr);
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(0x7F000002);
    if (ioctl(fd, SIOCSIFADDR, &request) != 0) _exit(126);
    address->sin_addr.s_addr = INADDR_NONE;  // the netmask, 255.255.255.255
    if (ioctl(fd, SIOCSIFNETMASK, &request) != 0) _exit(126);
    close(fd);
}

bool Says(const Ended& ended, const std::string& words) {
    return ended.errors.find(words) != std::string::npos;
}

TEST(GatewayStartupTest, AUnitsFileTakesAddressesAndSerialPortsAndNamesABadLine) {
    testing::TempFile bad("startup-units-bad", "127.0.60.1\n# the desk\n\nttyUSB0\n");
    const Ended refused = RunToEnd({"--units-file", bad.Path(), "--listen", "127.0.0.1:18061"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(Says(refused, bad.Path() +
                                  " line 4: neither an IPv4 address nor a serial port's path "
                                  "(/dev/ttyUSB0): ttyUSB0"))
        << refused.errors;

    testing::TempFile good("startup-units", "127.0.60.1   # the desk\n/dev/vantrel-startup-port\n");
    testing::GatewayProcess gateway({"--units-file", good.Path(), "--listen", "127.0.0.1:18061"});
    ASSERT_TRUE(gateway.Serving(kLimit)) << gateway.Errors();
    httplib::Client client("127.0.0.1", 18061);
    const auto reply = client.Get("/api/units");
    ASSERT_TRUE(reply);
    const nlohmann::json body = nlohmann::json::parse(reply->body);
    std::set<std::string> units;
    for (const auto& unit : body["units"]) units.insert(unit["unit"]);
    EXPECT_EQ(units, (std::set<std::string>{"127.0.60.1", "vantrel-startup-port"}));
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.Exit(kLimit), 0);
}

TEST(GatewayStartupTest, WhatMayPassEndsForARestartAndAMistakeDoesNot) {
    // At boot, before the address it is to listen on is up.
    const Ended notUp =
        RunToEnd({"--unit", "127.0.60.1", "--listen", "127.0.0.1:18062"}, OnlyOneAddressUp);
    EXPECT_EQ(notUp.code, EX_TEMPFAIL);
    EXPECT_TRUE(Says(notUp, "cannot listen on 127.0.0.1:18062")) << notUp.errors;

    testing::GatewayProcess holder({"--unit", "127.0.60.1", "--listen", "127.0.0.1:18063"});
    ASSERT_TRUE(holder.Serving(kLimit)) << holder.Errors();
    const Ended inUse = RunToEnd({"--unit", "127.0.60.2", "--listen", "127.0.0.1:18063"});
    EXPECT_EQ(inUse.code, EX_TEMPFAIL);
    EXPECT_TRUE(Says(inUse, "cannot listen on 127.0.0.1:18063")) << inUse.errors;
    const Ended emberInUse = RunToEnd(
        {"--unit", "127.0.60.2", "--listen", "127.0.0.1:18064", "--ember", "127.0.0.1:18063"});
    EXPECT_EQ(emberInUse.code, EX_TEMPFAIL);

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("vantrel-startup-" + std::to_string(getpid()));
    const Ended noFolder = RunToEnd({"--unit", "127.0.60.1", "--listen", "127.0.0.1:18065",
                                     "--audit-log", (folder / "audit.jsonl").string()});
    EXPECT_EQ(noFolder.code, EX_TEMPFAIL);
    EXPECT_TRUE(Says(noFolder, "the audit log " + (folder / "audit.jsonl").string()))
        << noFolder.errors;

    // Waiting does not give a port under 1024 to a user without the capability.
    const Ended lowPort = RunToEnd({"--unit", "127.0.60.1", "--listen", "127.0.0.1:80"}, [] {
        const gid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(126);
    });
    EXPECT_EQ(lowPort.code, 2);
    EXPECT_TRUE(Says(lowPort, "a port under 1024 needs CAP_NET_BIND_SERVICE")) << lowPort.errors;

    const Ended noTokens = RunToEnd({"--unit", "127.0.60.1", "--listen", "127.0.0.1:18066",
                                     "--tokens-file", (folder / "tokens").string()});
    EXPECT_EQ(noTokens.code, 2);
    const Ended noToken = RunToEnd({"--unit", "127.0.60.1", "--listen", "127.0.0.3:18066"});
    EXPECT_EQ(noToken.code, 2);
    EXPECT_TRUE(Says(noToken, "needs --token-file or --tokens-file")) << noToken.errors;
}

// The [Service] section's settings; a setting given twice keeps its last value, as systemd's
// do for these.
std::map<std::string, std::string> ServiceSettings() {
    std::ifstream in(VANTREL_SOURCE_DIR "/packaging/vantrel-gateway.service");
    std::map<std::string, std::string> settings;
    std::string section;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            section = line;
        } else if (section == "[Service]" && line.find('=') != std::string::npos) {
            settings[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        }
    }
    return settings;
}

// The unit file and the program's exit codes cannot drift apart.
TEST(GatewayStartupTest, TheUnitFileRestartsWhatMayPassButNotAMistake) {
    std::map<std::string, std::string> service = ServiceSettings();
    ASSERT_FALSE(service.empty());
    EXPECT_EQ(service["Restart"], "on-failure");
    std::istringstream words(service["RestartPreventExitStatus"]);
    std::set<std::string> kept{std::istream_iterator<std::string>(words), {}};
    EXPECT_EQ(kept.count("2"), 1u);
    EXPECT_EQ(kept.count(std::to_string(EX_TEMPFAIL)), 0u);
    EXPECT_EQ(service["Type"], "notify");
    EXPECT_EQ(service["NotifyAccess"], "main");
    EXPECT_EQ(service["ExecReload"], "/bin/kill -HUP $MAINPID");
}

}  // namespace
}  // namespace gateway_startup_test
}  // namespace vantrel

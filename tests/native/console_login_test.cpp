// A console session counts as open only once the unit has answered a status read after the
// login. A unit that refuses the login, or closes the connection at the password, gets no
// command from the tool, its dry run or the gateway, and the outcome names the cause.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/running_gateway.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"
#include "tests/support/vantrelctl_run.h"

namespace vantrel {
namespace console_login_test {
namespace {

using Lines = std::vector<std::string>;

struct LoginFault {
    const char* name;
    sim::Faults faults;
    std::string cause;  // the outcome's words
    Lines session;      // all that the unit receives on one connection
};

std::vector<LoginFault> LoginFaults() {
    sim::Faults refusing;
    refusing.refuseLogin = true;
    sim::Faults closing;
    closing.closeAtPassword = true;
    return {{"refused", refusing, "login not accepted", {"admin\r\n", "846\r\n", "STA1\r\n"}},
            {"closed at the password",
             closing,
             "the unit closed the connection during login",
             {"admin\r\n", "846\r\n"}}};
}

// The unit's traffic as connections of `session` (the last perhaps cut short by the gateway's
// stop), nothing after any of them.
bool OnlySessions(const Lines& lines, const Lines& session) {
    if (lines.empty()) return false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != session[i % session.size()]) return false;
    }
    return true;
}

// A dry run fails exactly where the real run does, for the same cause.
TEST(ConsoleLoginTest, TheToolSendsNothingOverASessionTheUnitDidNotConfirm) {
    testing::TempFile image("login.bin", std::string(1000, '\x5A'));
    const std::string update = "firmware main " + image.Path();
    for (const LoginFault& fault : LoginFaults()) {
        SCOPED_TRACE(fault.name);
        testing::SimulatedUnit unit("127.0.0.121", fault.faults);
        ASSERT_TRUE(unit.Start()) << unit.console.Error();
        for (const std::string& command :
             {std::string("press mute"), std::string("status"), update, update + " --dry-run"}) {
            SCOPED_TRACE(command);
            unit.log.Clear();
            const testing::CtlRun run = testing::Ctl("--unit 127.0.0.121 " + command);
            EXPECT_EQ(run.code, 1) << run.output;
            EXPECT_NE(run.output.find("vantrelctl: 127.0.0.121: no link: " + fault.cause + "\n"),
                      std::string::npos)
                << run.output;
            if (command.find("firmware") == 0) {
                EXPECT_NE(run.output.find("\n127.0.0.121  failed "), std::string::npos)
                    << run.output;
            }
            EXPECT_EQ(unit.log.Lines("tcp"), fault.session);
        }
    }
}

// The gateway shows such a unit down with the cause, however often it tries again, and a
// command for it is answered 503 with nothing sent.
TEST(ConsoleLoginTest, TheGatewayNeverShowsSuchAUnitUpAndSendsItNothing) {
    for (const LoginFault& fault : LoginFaults()) {
        SCOPED_TRACE(fault.name);
        testing::RunningGateway gw(
            1, "127.0.0.1", std::nullopt, fault.faults, [](gateway::GatewayOptions& options) {
                options.monitor.firstPause = std::chrono::milliseconds(50);
                options.monitor.longestPause = std::chrono::milliseconds(100);
            });
        ASSERT_TRUE(gw.started) << gw.error;
        const testing::SimulatedUnit& unit = *gw.units[0];
        bool everUp = false;
        const bool triedThrice = testing::WaitUntil(
            [&] {
                const nlohmann::json state = gw.Unit(unit.address);
                everUp |= state.value("link", "") == "up";
                const Lines lines = unit.log.Lines("tcp");
                return std::count(lines.begin(), lines.end(), "846\r\n") >= 3 &&
                       state.value("reason", "").find(fault.cause) != std::string::npos;
            },
            std::chrono::seconds(5));
        EXPECT_TRUE(triedThrice) << gw.Unit(unit.address).dump();
        EXPECT_FALSE(everUp);
        const auto reply =
            gw.Post("/api/units/" + unit.address + "/press/mute", nlohmann::json::object());
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 503) << reply->body;
        EXPECT_NE(reply->body.find(fault.cause), std::string::npos) << reply->body;
        gw.service->Stop();
        EXPECT_TRUE(OnlySessions(unit.log.Lines("tcp"), fault.session));
    }
}

}  // namespace
}  // namespace console_login_test
}  // namespace vantrel

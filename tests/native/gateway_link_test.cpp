// The gateway's hold on each unit's link: changes made at the unit reach the API and the event
// stream, a unit that goes away is down with its series gone, and it comes back freshly read.
// And who may ask: the token rules on an address other than 127.0.0.1.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "sim/serial_console.h"
#include "tests/support/hex_text.h"
#include "tests/support/running_gateway.h"
#include "tests/support/temp_file.h"

namespace vantrel {
namespace gateway_link_test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The event stream as it arrives, read on a thread of its own until the gateway stops.
class EventReader {
  public:
    explicit EventReader(httplib::Client client) : m_client(std::move(client)) {
        m_thread = std::thread([this] {
            m_client.Get("/api/events", [this](const char* data, size_t size) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_text.append(data, size);
                return true;
            });
        });
    }
    ~EventReader() { m_thread.join(); }
    // Whether an event of the unit carries `needle`, after the first `from` characters.
    bool Has(const std::string& needle, size_t from = 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text.find(needle, from) != std::string::npos;
    }
    size_t Size() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text.size();
    }

  private:
    httplib::Client m_client;
    std::mutex m_mutex;
    std::string m_text;
    std::thread m_thread;
};

TEST(GatewayLinkTest, AChangeAtTheUnitReachesTheApiAndTheStreamWithinAPollAndASecond) {
    testing::RunningGateway gw(1);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    {
        EventReader events(gw.Client());
        ASSERT_TRUE(testing::WaitUntil([&] { return events.Has("event: unit\ndata: "); },
                                       milliseconds(2000)));
        const size_t before = events.Size();
        const auto changed = Clock::now();
        gw.units[0]->unit.Update([](sim::UnitState& s) { s.input = 2; });
        EXPECT_TRUE(testing::WaitUntil([&] { return gw.Unit("127.0.60.1")["input"] == 2; },
                                       milliseconds(2000)));
        EXPECT_TRUE(testing::WaitUntil([&] { return events.Has("\"input\":2", before); },
                                       milliseconds(2000)));
        EXPECT_LT(testing::SecondsSince(changed), 2.0);
        gw.service->Stop();  // ends the stream, which the reader then returns from
    }
}

TEST(GatewayLinkTest, AStoppedUnitIsDownWithinTwoPollsAndComesBackFreshlyRead) {
    testing::RunningGateway gw(2);
    ASSERT_TRUE(gw.started) << gw.error;
    ASSERT_TRUE(gw.AllUp());
    auto metrics = [&] { return gw.Client().Get("/metrics")->body; };
    EXPECT_NE(metrics().find("vantrel_level{unit=\"127.0.60.1\",level=\"volume\"} 20\n"),
              std::string::npos);

    testing::SimulatedUnit& unit = *gw.units[0];
    const auto stopped = Clock::now();
    unit.console.Stop();
    ASSERT_TRUE(testing::WaitUntil([&] { return gw.Unit("127.0.60.1")["link"] == "down"; },
                                   milliseconds(2500)));
    EXPECT_LT(testing::SecondsSince(stopped), 2.0);
    const json down = gw.Unit("127.0.60.1");
    EXPECT_EQ(down["stale"], true);
    EXPECT_NE(down["reason"], "");
    const std::string text = metrics();
    EXPECT_NE(text.find("vantrel_up{unit=\"127.0.60.1\"} 0\n"), std::string::npos);
    EXPECT_EQ(text.find("{unit=\"127.0.60.1\",level="), std::string::npos) << text;
    EXPECT_EQ(text.find("vantrel_poll_age_seconds{unit=\"127.0.60.1\"}"), std::string::npos);
    EXPECT_NE(text.find("vantrel_level{unit=\"127.0.60.2\",level=\"volume\"}"), std::string::npos);

    // Changed while away: what shows once it is back is read again, not the last poll's.
    unit.unit.SetLevel(sim::Level::Volume, 33);
    ASSERT_TRUE(unit.Start());
    const auto restarted = std::chrono::system_clock::now();
    ASSERT_TRUE(testing::WaitUntil([&] { return gw.Unit("127.0.60.1")["link"] == "up"; },
                                   milliseconds(5000)));
    const json up = gw.Unit("127.0.60.1");
    EXPECT_EQ(up["levels"][0], 33);
    EXPECT_EQ(up["reconnects"], 1);
    EXPECT_GE(up["networkTime"].get<std::string>(), clients::TimeText(restarted));
    EXPECT_NE(metrics().find("vantrel_reconnects_total{unit=\"127.0.60.1\"} 1\n"),
              std::string::npos);
}

// A unit on a serial port is named by its device and also shows its firmware versions, with
// the time they were read, in the API and as an info series; its net controller is updated
// after the power cycle that the job waits for.
TEST(GatewaySerialTest, AUnitOnASerialPortShowsItsVersionsAndTakesNetFirmware) {
    sim::Unit unit(0x7F003C01, 0x7F003C01);
    unit.Update([](sim::UnitState& s) {
        s.mainVersion = {2, 5};
        s.netVersion = {1, 10};
    });
    sim::TrafficLog log;
    sim::SerialConsole console(unit, log, {});
    ASSERT_TRUE(console.Start()) << console.Error();
    const std::string device = console.DevicePath();
    const std::string name = device.substr(device.rfind('/') + 1);
    gateway::GatewayOptions options;
    options.port = 0;
    options.monitor.poll = std::chrono::seconds(1);
    options.units.push_back(clients::Target{device, true, 0});
    gateway::Gateway service(options, gateway::WaitableClock::System(),
                             gateway::RealLinks(testing::RunningGateway::LinkClock()));
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    httplib::Client client("127.0.0.1", service.Port());
    testing::Recording(client);
    json shown;
    ASSERT_TRUE(testing::WaitUntil(
        [&] {
            shown = json::parse(client.Get(("/api/units/" + name).c_str())->body);
            return shown["link"] == "up";
        },
        milliseconds(5000)))
        << shown.dump();
    EXPECT_EQ(shown["mainVersion"], json::array({2, 5}));
    EXPECT_EQ(shown["netVersion"], json::array({1, 10}));
    EXPECT_EQ(shown["versionsTime"].get<std::string>().size(), 24u);
    const std::string metrics = client.Get("/metrics")->body;
    EXPECT_NE(metrics.find("vantrel_firmware_info{unit=\"" + name +
                           "\",controller=\"net\",version=\"1.10\"} 1\n"),
              std::string::npos)
        << metrics;
    const auto pressed =
        client.Post(("/api/units/" + name + "/press/sdi-input").c_str(), "{}", "application/json");
    ASSERT_TRUE(pressed);
    EXPECT_EQ(pressed->status, 200) << pressed->body;
    EXPECT_EQ(unit.State().input, 1);

    const auto tooLarge = client.Post(("/api/firmware?controller=net&units=" + name).c_str(),
                                      std::string(0x1F7C0 + 1, 'x'), "application/octet-stream");
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(tooLarge->status, 400);
    EXPECT_NE(tooLarge->body.find("image too large for the flash"), std::string::npos);

    std::vector<std::uint8_t> image(4096);
    for (int i = 0; i < 4096; ++i) image[i] = static_cast<std::uint8_t>(i * 5);
    const auto started = client.Post(("/api/firmware?controller=net&units=" + name).c_str(),
                                     testing::HexOf(image, 16), "application/octet-stream");
    ASSERT_TRUE(started);
    ASSERT_EQ(started->status, 202) << started->body;
    const std::string job = "/api/jobs/" + json::parse(started->body)["job"].get<std::string>();
    auto state = [&] { return json::parse(client.Get(job.c_str())->body)["units"][0]["state"]; };
    ASSERT_TRUE(testing::WaitUntil([&] { return state() == "power-cycle"; }, milliseconds(5000)));
    console.PowerCycle();  // the line is held in break at 19200 baud: the bootloader starts
    const auto continued = client.Post((job + "/continue").c_str(), "{}", "application/json");
    ASSERT_TRUE(continued);
    EXPECT_EQ(continued->status, 200);
    ASSERT_TRUE(testing::WaitUntil([&] { return state() == "done"; }, milliseconds(20000)))
        << client.Get(job.c_str())->body;
    const std::vector<std::uint8_t> flash = unit.NetFlash();
    for (int i = 4; i < 4096; ++i) ASSERT_EQ(flash[i], (i * 5) & 0xFF) << i;
    service.Stop();
}

TEST(GatewayAccessTest, AnyOtherAddressNeedsTheTokenOnEveryRequest) {
    {
        testing::RunningGateway open(1, "127.0.0.3");
        EXPECT_FALSE(open.started);
        EXPECT_EQ(open.error, "listening on 127.0.0.3 needs --token-file or --tokens-file");
    }

    testing::RunningGateway gw(1, "127.0.0.3", std::string("s3cret-token"));
    ASSERT_TRUE(gw.started) << gw.error;
    auto status = [&](const char* method, const std::string& path, const char* token) {
        httplib::Client client = gw.Client();
        httplib::Headers headers;
        if (token) headers.emplace("Authorization", token);
        const auto reply = std::string(method) == "GET"
                               ? client.Get(path.c_str(), headers)
                               : client.Post(path.c_str(), headers, "{}", "application/json");
        return reply ? reply->status : -1;
    };
    httplib::Client admin = gw.Client();
    admin.set_bearer_token_auth("s3cret-token");
    ASSERT_TRUE(
        testing::Reaches(admin, "/api/units/127.0.60.1", "/link", "up", milliseconds(3000)));
    gw.units[0]->log.Clear();
    for (const char* wrong : {static_cast<const char*>(nullptr), "Bearer s3cret-tokem",
                              "Bearer s3cret-token2", "s3cret-token"}) {
        SCOPED_TRACE(wrong ? wrong : "no token");
        EXPECT_EQ(status("GET", "/api/units", wrong), 401);
        EXPECT_EQ(status("GET", "/metrics", wrong), 401);
        EXPECT_EQ(status("GET", "/api/events", wrong), 401);
        EXPECT_EQ(status("POST", "/api/units/127.0.60.1/press/mix-down", wrong), 401);
    }
    EXPECT_EQ(gw.units[0]->unit.State().mixDown, 0);
    EXPECT_EQ(status("GET", "/", nullptr), 200);  // the page holds no unit data
    EXPECT_EQ(status("GET", "/metrics", "Bearer s3cret-token"), 200);
    EXPECT_EQ(status("POST", "/api/units/127.0.60.1/press/mix-down", "Bearer s3cret-token"), 200);
    EXPECT_EQ(gw.units[0]->unit.State().mixDown, 1);
}

// The program itself: it refuses to start on another address without a token file, and with
// one it serves the page with its content type.
TEST(GatewayProgramTest, RefusesAnOpenAddressAndServesThePage) {
    auto run = [](const std::string& arguments) {
        std::string output;
        std::FILE* pipe = popen(
            (std::string("timeout 10 ") + VANTREL_GATEWAY + " " + arguments + " 2>&1").c_str(),
            "r");
        char chunk[512];
        while (pipe && std::fgets(chunk, sizeof chunk, pipe)) output += chunk;
        const int status = pipe ? pclose(pipe) : -1;
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, output);
    };
    const auto refused = run("--unit 127.0.60.1 --listen 127.0.0.3:18023");
    EXPECT_EQ(refused.first, 2);
    EXPECT_NE(refused.second.find("needs --token-file"), std::string::npos) << refused.second;
    testing::TempFile empty("gateway-token", "\n");
    EXPECT_EQ(run("--unit 127.0.60.1 --listen 127.0.0.3:18023 --token-file " + empty.Path()).first,
              2);
    EXPECT_EQ(run("--unit 127.0.60.01").first, 2);
    EXPECT_EQ(run("--unit 127.0.60.1 --poll 0").first, 2);
    // A port's name reaches the JSON, which takes UTF-8 only.
    EXPECT_EQ(run("--port \"$(printf '/dev/tty\\377')\"").first, 2);
    // A token others may read, or one that is short, is refused.
    testing::TempFile shared("gateway-token-shared", "s3cret-token-0123456789\n");
    const auto open =
        run("--unit 127.0.60.1 --listen 127.0.0.3:18023 --token-file " + shared.Path());
    EXPECT_EQ(open.first, 2);
    EXPECT_NE(open.second.find("chmod 600"), std::string::npos) << open.second;
    testing::TempFile shortToken("gateway-token-short", "s3cret\n");
    chmod(shortToken.Path().c_str(), 0600);
    EXPECT_EQ(
        run("--unit 127.0.60.1 --listen 127.0.0.3:18023 --token-file " + shortToken.Path()).first,
        2);

    testing::TempFile token("gateway-token", "s3cret-token-0123456789\n");
    chmod(token.Path().c_str(), 0600);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl(VANTREL_GATEWAY, VANTREL_GATEWAY, "--unit", "127.0.60.1", "--listen",
              "127.0.0.3:18023", "--token-file", token.Path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char line[256];
    EXPECT_GT(read(out[0], line, sizeof line), 0);  // "serving ..." once it listens
    httplib::Client client("127.0.0.3", 18023);
    testing::Recording(client);
    for (const auto& [path, type] :
         {std::make_pair("/", "text/html"), std::make_pair("/app.js", "text/javascript"),
          std::make_pair("/groups.js", "text/javascript"),
          std::make_pair("/snapshots.js", "text/javascript"),
          std::make_pair("/style.css", "text/css")}) {
        const auto reply = client.Get(path);
        ASSERT_TRUE(reply) << path;
        EXPECT_EQ(reply->status, 200) << path;
        EXPECT_EQ(reply->get_header_value("Content-Type").rfind(type, 0), 0u) << path;
        EXPECT_FALSE(reply->body.empty());
    }
    EXPECT_EQ(client.Get("/nothing-here.js")->status, 404);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;  // a clean stop
}

}  // namespace
}  // namespace gateway_link_test
}  // namespace vantrel

// Nothing is done unrecorded on a full disk: the audit log lives on a 64 KiB tmpfs, mounted in a
// mount namespace of the test's own, and is filled up under commands, a firmware job and a
// job's Continue.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/serial_console.h"
#include "tests/support/hex_text.h"
#include "tests/support/running_gateway.h"

namespace vantrel {
namespace gateway_audit_disk_test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

// Runs `body` on a thread in a mount namespace of its own, with a 64 KiB tmpfs on `folder`: the
// threads it starts (a gateway's) share the mount, and the other tests never see it.
void OnSmallDisk(const std::string& folder, const std::function<void()>& body) {
    fs::create_directories(folder);
    std::thread([&] {
        ASSERT_EQ(unshare(CLONE_NEWNS), 0) << std::strerror(errno);
        ASSERT_EQ(mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        ASSERT_EQ(mount("none", folder.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
        body();
        umount(folder.c_str());
    }).join();
    fs::remove_all(folder);
}

// Takes every free block of the disk with a file of its own.
void Fill(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(1024, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    const int error = errno;
    close(fd);
    ASSERT_EQ(error, ENOSPC);
}

// The log's lines; each must be a whole JSON object.
std::vector<json> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<json> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(json::parse(line, nullptr, false));
        EXPECT_TRUE(lines.back().is_object()) << "not an entry: " << line;
    }
    return lines;
}

// How many entries are in `phase`, with the outcome `status` where given.
long Count(const std::vector<json>& entries, const char* phase, int status = 0) {
    return std::count_if(entries.begin(), entries.end(), [&](const json& entry) {
        return entry.value("phase", "") == phase &&
               (status == 0 || entry["outcome"].value("status", 0) == status);
    });
}

TEST(GatewayAuditDiskTest, AFullDiskRefusesCommandsUnsentAndNeverCutsALine) {
    const std::string folder =
        (fs::temp_directory_path() / ("vantrel-audit-disk-" + std::to_string(getpid()))).string();
    OnSmallDisk(folder, [&] {
        const std::string log = folder + "/audit.jsonl";
        testing::RunningGateway gw(1, "127.0.0.1", std::nullopt, {},
                                   [&](gateway::GatewayOptions& o) { o.auditLog = log; });
        ASSERT_TRUE(gw.started) << gw.error;
        ASSERT_TRUE(gw.AllUp());
        gw.units[0]->unit.SetLevel(sim::Level::Volume, 10);
        const std::string step = "/api/units/127.0.60.1/level/volume";
        ASSERT_EQ(gw.Post(step, {{"step", "up"}})->status, 200);

        // The log's last block has room for a few entries, then an entry is cut by the full
        // disk: nothing of it stays, and the next command is refused.
        Fill(folder + "/filler");
        int stepped = 0;
        std::string refused;
        auto stepUp = [&] {
            const auto reply = gw.Post(step, {{"step", "up"}});
            refused = reply ? reply->body : "";
            return reply ? reply->status : -1;
        };
        while (stepped < 40 && stepUp() == 200) ++stepped;
        ASSERT_NE(refused.find("the audit log " + log + " cannot be written"), std::string::npos)
            << refused;
        for (int i = 0; i < 5; ++i) EXPECT_EQ(stepUp(), 503);
        EXPECT_EQ(gw.units[0]->unit.GetLevel(sim::Level::Volume), 11 + stepped);
        // Each step that ran was begun in the log first.
        EXPECT_EQ(Count(Lines(log), "begun"), 1 + stepped);

        // A firmware job's unit fails before anything is sent.
        gw.units[0]->log.Clear();
        auto client = gw.Client();
        const auto job = client.Post("/api/firmware?units=127.0.60.1&controller=main",
                                     std::string(3000, '\x11'), "application/octet-stream");
        ASSERT_EQ(job->status, 202);
        const std::string path = "/api/jobs/" + json::parse(job->body)["job"].get<std::string>();
        ASSERT_TRUE(testing::Reaches(client, path, "/units/0/state", "failed", milliseconds(5000)));
        EXPECT_NE(json::parse(client.Get(path.c_str())->body)["units"][0]["error"]
                      .get<std::string>()
                      .find("the audit log"),
                  std::string::npos);
        for (const std::string& line : gw.units[0]->log.Lines("tcp")) {
            EXPECT_EQ(line.find("FWUPDATE"), std::string::npos) << line;
        }

        // With room again, an outcome the disk could not take is written first, and every
        // entry is on a line of its own.
        fs::remove(folder + "/filler");
        ASSERT_EQ(gw.Post(step, {{"step", "up"}})->status, 200);
        EXPECT_EQ(gw.units[0]->unit.GetLevel(sim::Level::Volume), 12 + stepped);
        const std::vector<json> lines = Lines(log);
        EXPECT_EQ(Count(lines, "begun"), 2 + stepped);
        EXPECT_EQ(Count(lines, "ended", 200), 2 + stepped);
        EXPECT_EQ(lines.back()["phase"], "ended");
        EXPECT_EQ(lines.back()["params"]["step"], "up");
    });
}

// Continue lets a net job's updates go on, so it is recorded first, and refused while it
// cannot be: here the log was rotated onto a full disk.
TEST(GatewayAuditDiskTest, ContinueIsRecordedAndRefusedWhileTheLogCannotTakeIt) {
    const std::string folder =
        (fs::temp_directory_path() / ("vantrel-audit-continue-" + std::to_string(getpid())))
            .string();
    OnSmallDisk(folder, [&] {
        const std::string log = folder + "/audit.jsonl";
        sim::Unit unit(0x7F003C01, 0x7F003C01);
        sim::TrafficLog traffic;
        sim::SerialConsole console(unit, traffic, {});
        ASSERT_TRUE(console.Start()) << console.Error();
        const std::string device = console.DevicePath();
        const std::string name = device.substr(device.rfind('/') + 1);
        gateway::GatewayOptions options;
        options.port = 0;
        options.auditLog = log;
        options.units.push_back(clients::Target{device, true, 0});
        gateway::Gateway service(options, gateway::WaitableClock::System(),
                                 gateway::RealLinks(testing::RunningGateway::LinkClock()));
        std::string error;
        ASSERT_TRUE(service.Start(error)) << error;
        httplib::Client client("127.0.0.1", service.Port());
        testing::Recording(client);
        ASSERT_TRUE(
            testing::Reaches(client, "/api/units/" + name, "/link", "up", milliseconds(20000)));
        std::vector<std::uint8_t> image(4096);
        for (int i = 0; i < 4096; ++i) image[i] = static_cast<std::uint8_t>(i * 7);
        const auto started = client.Post(("/api/firmware?controller=net&units=" + name).c_str(),
                                         testing::HexOf(image, 16), "application/octet-stream");
        ASSERT_EQ(started->status, 202) << started->body;
        const std::string job = "/api/jobs/" + json::parse(started->body)["job"].get<std::string>();
        ASSERT_TRUE(
            testing::Reaches(client, job, "/units/0/state", "power-cycle", milliseconds(20000)));
        console.PowerCycle();

        Fill(folder + "/filler");
        fs::rename(log, log + ".1");
        const auto refused = client.Post((job + "/continue").c_str(), "{}", "application/json");
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 503) << refused->body;
        EXPECT_EQ(json::parse(client.Get(job.c_str())->body)["units"][0]["state"], "power-cycle");

        fs::remove(folder + "/filler");
        const auto continued = client.Post((job + "/continue").c_str(), "{}", "application/json");
        ASSERT_TRUE(continued);
        EXPECT_EQ(continued->status, 200);
        // Its updates go on to the end: "running" is too brief to be sure of seeing.
        ASSERT_TRUE(testing::Reaches(client, job, "/units/0/state", "done", milliseconds(20000)));
        const std::vector<json> lines = Lines(log);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0]["action"], "continue");
        EXPECT_EQ(lines[0]["phase"], "begun");
        EXPECT_EQ(lines[0]["who"], "local");
        EXPECT_EQ(lines[0]["unit"], name);
        EXPECT_EQ(lines[0]["params"]["job"], json::parse(started->body)["job"]);
        service.Stop();
    });
}

}  // namespace
}  // namespace gateway_audit_disk_test
}  // namespace vantrel

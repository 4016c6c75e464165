// Benchmark: a snapshot applied through vantrel-gateway to 256 simulated units (or as many as
// the first argument says), of which every other one differs from it in three settings
// (volume, brightness, contrast). Beside it, in the same run, the baseline: the same apply to
// one differing unit at a time, for a few of them; the slowest of these is a unit's own time for
// those commands. Prints the whole apply's time against 1.5 times that, each unit's outcome,
// and the gateway's CPU and memory. The units are on 127.0.152.1 upwards, port 23, so it needs
// root (run it in a namespace with only lo).
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/bench_units.h"
#include "bench/gateway_child.h"
#include "bench/proc_figures.h"

namespace {

using namespace vantrel;
using namespace vantrel::bench;
using nlohmann::json;
using std::chrono::steady_clock;

constexpr int kPort = 18152;
constexpr uint32_t kBlock = 152;  // clear of the tests' addresses and of the other benchmarks'
constexpr int kBaselineUnits = 4;

double SecondsSince(steady_clock::time_point start) {
    return std::chrono::duration<double>(steady_clock::now() - start).count();
}

// Moves the unit off the snapshot in three settings.
void MakeDiffer(sim::Unit& unit) {
    unit.SetLevel(sim::Level::Volume, 30);
    unit.SetLevel(sim::Level::Brightness, 3);
    unit.SetLevel(sim::Level::Contrast, 4);
}

struct Applied {
    bool ok = false;
    double seconds = 0;
    int done = 0, failed = 0, skipped = 0, refused = 0;
    std::string error;
};

Applied Apply(httplib::Client& client, const json& body) {
    Applied applied;
    const auto start = steady_clock::now();
    const auto reply = client.Post("/api/snapshots/bench/apply", body.dump(), "application/json");
    applied.seconds = SecondsSince(start);
    if (!reply || reply->status != 200) {
        applied.error = reply ? reply->body : "no answer";
        return applied;
    }
    const json answer = json::parse(reply->body, nullptr, false);
    if (!answer.contains("units")) {
        applied.error = "no units in " + reply->body;
        return applied;
    }
    for (const json& unit : answer["units"]) {
        if (!unit.value("refusal", json()).is_null()) ++applied.refused;
        for (const json& step : unit.value("steps", json::array())) {
            const std::string state = step.value("state", "");
            (state == "done"     ? applied.done
             : state == "failed" ? applied.failed
                                 : applied.skipped)++;
        }
    }
    applied.ok = true;
    return applied;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 256;
    if (count < kBaselineUnits * 2 || count > 1000) {
        std::fprintf(stderr, "usage: snapshot_apply [UNITS]   (256 by default, 8 to 1000)\n");
        return 2;
    }
    if (RaiseOpenFileLimit() < static_cast<rlim_t>(4 * count + 64)) {
        std::fprintf(stderr, "the open file limit is too low for %d units\n", count);
        return 1;
    }
    std::vector<std::unique_ptr<BenchUnit>> units;
    if (!StartUnits(count, kBlock, units)) return 1;
    char folder[] = "/tmp/vantrel-snapshot-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string unitsFile = std::string(folder) + "/units";
    if (std::FILE* out = std::fopen(unitsFile.c_str(), "w")) {
        for (const std::string& name : UnitNames(count, kBlock)) {
            std::fprintf(out, "%s\n", name.c_str());
        }
        std::fclose(out);
    }
    GatewayChild gateway(
        {}, kPort,
        {"--units-file", unitsFile, "--state-dir", folder, "--group-limit", std::to_string(count)});
    if (!gateway.WaitAllUp(count, std::chrono::seconds(60))) {
        std::fprintf(stderr, "the units did not all come up\n");
        return 1;
    }
    httplib::Client client("127.0.0.1", kPort);
    client.set_read_timeout(std::chrono::seconds(120));
    const auto captured = client.Post(
        "/api/snapshots", json{{"name", "bench"}, {"select", "all"}}.dump(), "application/json");
    if (!captured || captured->status != 201) {
        std::fprintf(stderr, "capture: %s\n", captured ? captured->body.c_str() : "no answer");
        return 1;
    }

    // The baseline: a unit's own time, one differing unit at a time.
    double slowest = 0;
    for (int i = 0; i < kBaselineUnits; ++i) {
        MakeDiffer(units[2 * i]->unit);
        const Applied one =
            Apply(client, {{"select", json::array({Dotted(UnitAddress(2 * i, kBlock))})}});
        if (!one.ok || one.done != 3) {
            std::fprintf(stderr, "baseline apply: %s (%d done)\n", one.error.c_str(), one.done);
            return 1;
        }
        slowest = std::max(slowest, one.seconds);
    }

    for (int i = 0; i < count; i += 2) MakeDiffer(units[i]->unit);
    const pid_t pid = gateway.Pid();
    const double cpuBefore = CpuSeconds(pid);
    const Applied all = Apply(client, {{"select", "all"}, {"confirm", count}});
    const double cpu = CpuSeconds(pid) - cpuBefore;
    if (!all.ok) {
        std::fprintf(stderr, "apply: %s\n", all.error.c_str());
        return 1;
    }
    int matching = 0;
    for (const auto& unit : units) {
        matching += unit->unit.GetLevel(sim::Level::Volume) != 30 ? 1 : 0;
    }
    double load[1] = {0};
    getloadavg(load, 1);
    const int differing = (count + 1) / 2;
    std::printf(
        "vantrel-gateway, a snapshot applied to %d units, %d differing in 3 settings "
        "(load %.2f)\n",
        count, differing, load[0]);
    std::printf("  baseline   one unit's own apply, slowest of %d: %.2f s\n", kBaselineUnits,
                slowest);
    std::printf(
        "  all units  %.2f s (%.2f x the baseline)  steps: %d done, %d failed, "
        "%d skipped; %d units refused\n",
        all.seconds, all.seconds / slowest, all.done, all.failed, all.skipped, all.refused);
    std::printf("  gateway    cpu %.2f s over the apply  rss %.1f MiB (peak %.1f)\n", cpu,
                MemoryMiB(pid, "VmRSS"), MemoryMiB(pid, "VmHWM"));
    std::printf("  units as the snapshot afterwards: %d of %d\n", matching, count);
    std::printf("  target: within 1.5 x the baseline, %d steps done, none failed\n", 3 * differing);
    gateway.Stop();
    std::filesystem::remove_all(folder);
    const bool met = all.seconds <= 1.5 * slowest && all.done == 3 * differing && all.failed == 0 &&
                     all.refused == 0 && matching == count;
    return met ? 0 : 1;
}

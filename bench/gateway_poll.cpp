// Benchmark: vantrel-gateway holding 256 simulated units (or as many as the first argument
// says) polled every 5 s: its CPU as a share of one core and its memory over a window of
// seconds (the second argument, 30 by default), then the time of a /metrics scrape, median and
// p99 of 200. Beside it, the same figures for the gateway with 1 unit, measured in the same
// run. The units are on 127.0.150.1 upwards, port 23, so it needs root.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_units.h"
#include "bench/gateway_child.h"
#include "bench/proc_figures.h"

namespace {

using namespace vantrel::bench;
using std::chrono::steady_clock;

constexpr int kPort = 18150;
constexpr int kScrapes = 200;

// 127.0.150.1 upwards: clear of the tests' addresses and of fleet_update's.
constexpr uint32_t kBlock = 150;

struct Figures {
    bool allUp = false;
    double coreShare = 0;  // CPU seconds per second of the window
    double rssMiB = 0, peakMiB = 0;
    double medianMs = 0, p99Ms = 0;
    size_t metricsBytes = 0;
};

Figures Measure(int count, int windowSeconds) {
    const std::string list = "/tmp/vantrel-gateway-bench.units";
    std::FILE* out = std::fopen(list.c_str(), "w");
    if (!out) return {};
    for (int i = 0; i < count; ++i)
        std::fprintf(out, "%s\n", Dotted(UnitAddress(i, kBlock)).c_str());
    std::fclose(out);
    GatewayChild gateway({}, kPort, {"--units-file", list});
    const pid_t pid = gateway.Pid();
    Figures figures;
    figures.allUp = gateway.WaitAllUp(count, std::chrono::seconds(60));
    httplib::Client client("127.0.0.1", kPort);
    // Settled first: the start's connects and whole reads are not the steady load.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double cpuBefore = CpuSeconds(pid);
    const auto start = steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(windowSeconds));
    const double window = std::chrono::duration<double>(steady_clock::now() - start).count();
    figures.coreShare = (CpuSeconds(pid) - cpuBefore) / window;
    figures.rssMiB = MemoryMiB(pid, "VmRSS");

    std::vector<double> times;
    for (int i = 0; i < kScrapes; ++i) {
        const auto begin = steady_clock::now();
        const auto metrics = client.Get("/metrics");
        times.push_back(
            std::chrono::duration<double, std::milli>(steady_clock::now() - begin).count());
        if (metrics) figures.metricsBytes = metrics->body.size();
    }
    std::sort(times.begin(), times.end());
    figures.medianMs = times[times.size() / 2];
    figures.p99Ms = times[times.size() * 99 / 100];
    figures.peakMiB = MemoryMiB(pid, "VmHWM");
    gateway.Stop();
    std::remove(list.c_str());
    return figures;
}

void Print(const char* label, const Figures& f) {
    std::printf(
        "  %-10s %s  cpu %5.2f%% of a core  rss %6.1f MiB (peak %6.1f)  "
        "/metrics %6.2f ms median, %6.2f ms p99 (%zu bytes)\n",
        label, f.allUp ? "all up " : "NOT UP ", f.coreShare * 100, f.rssMiB, f.peakMiB, f.medianMs,
        f.p99Ms, f.metricsBytes);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 256;
    const int window = argc > 2 ? std::atoi(argv[2]) : 30;
    if (count < 1 || count > 1000 || window < 5) {
        std::fprintf(stderr, "usage: gateway_poll [UNITS [SECONDS]]   (256 and 30 by default)\n");
        return 2;
    }
    if (RaiseOpenFileLimit() < static_cast<rlim_t>(4 * count + 64)) {
        std::fprintf(stderr, "the open file limit is too low for %d units\n", count);
        return 1;
    }
    std::vector<std::unique_ptr<BenchUnit>> units;
    if (!StartUnits(count, kBlock, units)) return 1;
    const Figures one = Measure(1, window);
    const Figures all = Measure(count, window);
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("vantrel-gateway, polls every 5 s, cpu over %d s (load %.2f)\n", window, load[0]);
    Print("1 unit", one);
    Print((std::to_string(count) + " units").c_str(), all);
    std::printf("  targets for %d units: under 2%% of a core, under 64 MiB, a scrape under 50 ms\n",
                count);
    const bool met =
        one.allUp && all.allUp && all.coreShare < 0.02 && all.rssMiB < 64 && all.p99Ms < 50;
    return met ? 0 : 1;
}

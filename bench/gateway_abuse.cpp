// Benchmark: vantrel-gateway under hostile and careless clients, beside the same gateway without
// them, in one run. Each measurement has a gateway process of its own over 4 simulated units:
// - mixed: 1,000 clients holding idle keep-alive connections, 200 trickling a request a byte a
//   second and 256 open event streams, while a measuring client makes 2,000 GET /api/units and
//   2,000 GET /metrics at concurrency 8; and the same requests with no abusers (the baseline);
// - large body: 64 MiB chunked to /api/firmware and to /index.html, and the peak memory it cost;
// - burst: 5,000 GET /api/units with Connection: close at concurrency 64.
// It prints each target as met or missed, and exits 0 only when all are met. It runs as root,
// in a network namespace of its own that has only lo, and ends by itself within 5 minutes.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/abuse_crowd.h"
#include "bench/bench_units.h"
#include "bench/chunked_post.h"
#include "bench/gateway_child.h"
#include "bench/load_client.h"
#include "bench/loopback_namespace.h"
#include "bench/proc_figures.h"

namespace {

using namespace vantrel::bench;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

constexpr int kUnits = 4;
constexpr uint32_t kBlock = 170;  // the units on 127.0.170.1 upwards
constexpr auto kRunLimit = std::chrono::minutes(5);
constexpr auto kStartLimit = seconds(30);  // for a gateway to bring its units up
// Before measuring: past the gateway's 10 s deadline for a request's headers, so that every
// kind of abuser may have been closed and have come back.
constexpr auto kSettle = seconds(12);
constexpr auto kPhaseLimit = seconds(60);  // for the measuring client's requests
constexpr auto kRequestTimeout = seconds(5);
constexpr auto kBodyLimit = seconds(30);
constexpr uint64_t kLargeBody = uint64_t{64} << 20;
// 1,000 idle keep-alive clients, 200 trickling ones and 256 event streams (the port is set
// for each gateway).
constexpr CrowdPlan kCrowd{0, 1000, 200, 256};

const Clock::time_point g_runEnd = Clock::now() + kRunLimit;

// A port for each gateway, so that one's leftovers (its sockets in TIME_WAIT) never meet the
// next's.
int NextPort() {
    static int port = 18170;
    return port++;
}

Clock::time_point Within(Clock::duration limit) { return std::min(Clock::now() + limit, g_runEnd); }

// "" once the gateway serves its units; why not otherwise.
std::string Ready(const GatewayChild& gateway) {
    if (Clock::now() >= g_runEnd) return "not measured: the time limit passed";
    const auto limit = std::chrono::duration_cast<seconds>(Within(kStartLimit) - Clock::now());
    if (!gateway.WaitAllUp(kUnits, limit))
        return "not measured: the gateway's units did not come up";
    return "";
}

double Seconds(Clock::duration span) { return std::chrono::duration<double>(span).count(); }

// The measuring client's requests, each within kRequestTimeout, all begun within kPhaseLimit.
LoadPlan Plan(int port, std::vector<std::string> paths, int requests, int concurrency,
              bool keepAlive) {
    LoadPlan plan;
    plan.port = port;
    plan.paths = std::move(paths);
    plan.requests = requests;
    plan.concurrency = concurrency;
    plan.keepAlive = keepAlive;
    plan.timeout = kRequestTimeout;
    plan.deadline = Within(kPhaseLimit);
    return plan;
}

struct Mixed {
    std::string missing;  // why it was not measured; "" when it was
    LoadFigures load;
    double coreShare = 0;  // the gateway's CPU seconds per second, settling and measuring
    double peakMiB = 0;
    std::array<CrowdFigures, 3> crowd{};
};

Mixed MeasureMixed(bool abuse) {
    Mixed figures;
    const int port = NextPort();
    GatewayChild gateway(UnitNames(kUnits, kBlock), port);
    figures.missing = Ready(gateway);
    if (!figures.missing.empty()) return figures;
    std::optional<AbuseCrowd> crowd;
    if (abuse) {
        CrowdPlan plan = kCrowd;
        plan.port = port;
        crowd.emplace(plan);
    }
    const double cpuBefore = CpuSeconds(gateway.Pid());
    const auto start = Clock::now();
    std::this_thread::sleep_for(kSettle);
    figures.load = LoadClient(Plan(port, {"/api/units", "/metrics"}, 4000, 8, true)).Run();
    figures.coreShare = (CpuSeconds(gateway.Pid()) - cpuBefore) / Seconds(Clock::now() - start);
    figures.peakMiB = MemoryMiB(gateway.Pid(), "VmHWM");
    if (crowd) {
        crowd->Stop();
        figures.crowd = crowd->Figures();
    }
    return figures;
}

struct LargeBody {
    std::string missing;
    BodyAnswer answer;
    double beforeMiB = 0, afterMiB = 0;  // the gateway's peak memory
};

LargeBody MeasureLargeBody(const std::string& path) {
    LargeBody figures;
    const int port = NextPort();
    GatewayChild gateway(UnitNames(kUnits, kBlock), port);
    figures.missing = Ready(gateway);
    if (!figures.missing.empty()) return figures;
    figures.beforeMiB = MemoryMiB(gateway.Pid(), "VmHWM");
    const auto limit =
        std::chrono::duration_cast<std::chrono::milliseconds>(Within(kBodyLimit) - Clock::now());
    figures.answer = PostChunked(port, path, kLargeBody, limit);
    figures.afterMiB = MemoryMiB(gateway.Pid(), "VmHWM");
    return figures;
}

struct Burst {
    std::string missing;
    LoadFigures load;
};

Burst MeasureBurst() {
    Burst figures;
    const int port = NextPort();
    GatewayChild gateway(UnitNames(kUnits, kBlock), port);
    figures.missing = Ready(gateway);
    if (figures.missing.empty()) {
        figures.load = LoadClient(Plan(port, {"/api/units"}, 5000, 64, false)).Run();
    }
    return figures;
}

void PrintLoad(const char* label, const LoadFigures& f) {
    std::printf("  %-8s %4zu answered 200, %4d errors", label, f.latencyMs.size(), f.Errors());
    if (f.latencyMs.empty()) {
        std::printf("; no latency to show\n");
    } else {
        std::printf("; median %7.2f ms, p99 %7.2f ms, max %8.2f ms\n", f.Percentile(0.5),
                    f.Percentile(0.99), f.Max());
    }
    if (f.Errors() == 0) return;
    std::printf(
        "  %-8s errors: %d refused, %d reset, %d timed out (%lld s), %d cut short, "
        "%d other replies, %d not sent in time\n",
        "", f.refused, f.reset, f.timedOut, static_cast<long long>(kRequestTimeout.count()), f.cut,
        f.badReply, f.notSent);
}

void PrintMixed(const char* label, const Mixed& f) {
    if (!f.missing.empty()) {
        std::printf("  %-8s %s\n", label, f.missing.c_str());
        return;
    }
    PrintLoad(label, f.load);
    std::printf("  %-8s gateway: cpu %.1f%% of a core, peak memory %.1f MiB\n", "",
                f.coreShare * 100, f.peakMiB);
}

void PrintCrowd(const Mixed& f) {
    const char* names[] = {"idle keep-alive", "trickling", "event streams"};
    for (size_t k = 0; k < f.crowd.size(); ++k) {
        const CrowdFigures& c = f.crowd[k];
        std::printf(
            "  abusers: %4d %-15s %6ld connections, %6ld closed by the gateway; "
            "first answers: %ld 200, %ld other\n",
            c.clients, names[k], c.connections, c.closed, c.answered200, c.answeredOther);
    }
}

void PrintLargeBody(const char* path, const LargeBody& f) {
    if (!f.missing.empty()) {
        std::printf("  %-14s %s\n", path, f.missing.c_str());
        return;
    }
    const BodyAnswer& a = f.answer;
    const std::string outcome = a.status != 0 ? "answered " + std::to_string(a.status)
                                : a.closed    ? "closed the connection"
                                              : "did not answer in time";
    std::printf("  %-14s %s after %.1f MiB sent; peak memory %.1f -> %.1f MiB (%+.1f)\n", path,
                outcome.c_str(), static_cast<double>(a.sentBytes) / (1 << 20), f.beforeMiB,
                f.afterMiB, f.afterMiB - f.beforeMiB);
}

struct Targets {
    bool all = true;
    void Check(const char* what, bool measured, bool met, const std::string& figure) {
        met = measured && met;
        all = all && met;
        std::printf("  %-56s %-6s (%s)\n", what, met ? "met" : "MISSED",
                    measured ? figure.c_str() : "not measured");
    }
};

std::string Text(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool PrintTargets(const Mixed& abused, const LargeBody& firmware, const LargeBody& page,
                  const Burst& burst) {
    Targets t;
    const bool mixed = abused.missing.empty();
    t.Check("mixed abuse: no errors", mixed, abused.load.Errors() == 0,
            std::to_string(abused.load.Errors()) + " errors");
    t.Check("mixed abuse: p99 under 50 ms", mixed,
            !abused.load.latencyMs.empty() && abused.load.Percentile(0.99) < 50,
            abused.load.latencyMs.empty() ? "none answered"
                                          : Text("%.2f ms", abused.load.Percentile(0.99)));
    for (const LargeBody* body : {&firmware, &page}) {
        const double growth = body->afterMiB - body->beforeMiB;
        t.Check(body == &firmware ? "large body, /api/firmware: peak grows under 16 MiB"
                                  : "large body, /index.html: peak grows under 16 MiB",
                body->missing.empty(), growth < 16, Text("%+.1f MiB", growth));
    }
    const LoadFigures& b = burst.load;
    t.Check("burst: no connection refused or reset", burst.missing.empty(),
            b.refused + b.reset == 0, std::to_string(b.refused + b.reset) + " refused or reset");
    t.Check("burst: every request answered, the slowest under 200 ms", burst.missing.empty(),
            b.Errors() == 0 && b.Max() < 200,
            std::to_string(b.Errors()) + " errors, " + Text("max %.2f ms", b.Max()));
    return t.all;
}

// The backstop: whatever a phase does, the run ends (and its gateway with it).
extern "C" void OnTimeLimit(int) {
    const char text[] = "gateway_abuse: past its time limit; stopping\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text, sizeof text - 1);
    _exit(1);
}

}  // namespace

int main() {
    if (const int status = EnterBenchRun("gateway_abuse"); status != 0) return status;
    signal(SIGALRM, OnTimeLimit);
    alarm(static_cast<unsigned>(seconds(kRunLimit).count()) + 30);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<std::unique_ptr<BenchUnit>> units;
    if (!StartUnits(kUnits, kBlock, units)) return 1;

    std::printf(
        "vantrel-gateway over %d simulated units, polls every 5 s; each line a gateway "
        "of its own\nmixed: 2,000 GET /api/units + 2,000 GET /metrics at concurrency 8, "
        "keep-alive\n",
        kUnits);
    PrintMixed("baseline", MeasureMixed(false));
    const Mixed abused = MeasureMixed(true);
    PrintMixed("abused", abused);
    if (abused.missing.empty()) PrintCrowd(abused);

    std::printf("large body: 64 MiB chunked, application/octet-stream\n");
    const LargeBody firmware = MeasureLargeBody(
        "/api/firmware?units=" + UnitNames(kUnits, kBlock)[0] + "&controller=main");
    PrintLargeBody("/api/firmware", firmware);
    const LargeBody page = MeasureLargeBody("/index.html");
    PrintLargeBody("/index.html", page);

    std::printf("burst: 5,000 GET /api/units with Connection: close at concurrency 64\n");
    const Burst burst = MeasureBurst();
    if (burst.missing.empty()) {
        PrintLoad("burst", burst.load);
    } else {
        std::printf("  burst    %s\n", burst.missing.c_str());
    }
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("targets (load %.2f)\n", load[0]);
    return PrintTargets(abused, firmware, page, burst) ? 0 : 1;
}

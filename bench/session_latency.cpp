// Command pickup latency and idle CPU of the network session thread, against the simulated
// unit over loopback, beside the same figures for a loop that busy-polls the command slot.
//   session_latency [address]      (default 127.0.0.60; binds port 23, so run as root)
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "presenters/net_link.h"
#include "presenters/post_command.h"
#include "sim/dotted_address.h"
#include "sim/tcp_console.h"
#include "unit/tcp_stream.h"

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kCommands = 500;
constexpr auto kIdle = 10s;
constexpr uint8_t kSoloLeft = 1;

// A panel that draws nothing; it notes which thread the session runs on.
class BenchView : public PanelView {
  public:
    std::atomic<bool> known{false};
    pthread_t sessionThread{};

    void SetText(int, const char*) override {
        if (!known) {
            sessionThread = pthread_self();
            known = true;
        }
    }
    void SetBarPos(int, int32_t) override {}
    uint32_t GetAddress(int) override { return address; }
    void SetAddress(int, uint32_t) override {}
    void EnableControl(int, bool) override {}
    void CheckRadio(int, bool) override {}
    void SetPicture(int, int) override {}
    ImageHandle SwapInPicture(int, int) override { return ImageHandle::kNone; }
    void RestorePicture(int, ImageHandle) override {}
    void ShowControl(int, bool) override {}
    void DeleteImage(ImageHandle) override {}
    int32_t ComSelection() override { return -1; }
    void ShowWaitCursor(bool) override {}
    void ShowMessage(const char*) override {}
    void WaitForSession(vantrel::Clock::Duration step) override {
        std::this_thread::sleep_for(step);
    }

    uint32_t address = 0;
};

struct Figures {
    double medianMs = 0;
    double p99Ms = 0;
    double idleCpuSeconds = 0;
};

double ThreadCpuSeconds(pthread_t thread) {
    clockid_t id;
    timespec ts{};
    if (pthread_getcpuclockid(thread, &id) != 0 || clock_gettime(id, &ts) != 0) return -1;
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void WaitUntil(const std::function<bool()>& condition) {
    while (!condition()) std::this_thread::sleep_for(1ms);
}

// Posts kCommands codes one at a time and measures from PostCommand to the arrival of the
// line's first byte at the unit.
std::vector<double> MeasurePickup(PanelState& state, PanelView& view, sim::TrafficLog& log) {
    std::vector<double> latencies;
    for (int i = 0; i < kCommands; ++i) {
        const size_t before = log.Entries().size();
        const auto posted = Clock::now();
        PostCommand(state, kSoloLeft, view);
        if (!log.WaitForCount(before + 1, 5000ms)) break;
        latencies.push_back(
            std::chrono::duration<double, std::milli>(log.Entries()[before].received - posted)
                .count());
        WaitUntil([&] { return state.m_nCommand == 0; });
        std::this_thread::sleep_for(2ms);
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}

Figures Summarise(const std::vector<double>& sorted, double idleCpu) {
    Figures f;
    if (!sorted.empty()) {
        f.medianMs = sorted[sorted.size() / 2];
        f.p99Ms = sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
    }
    f.idleCpuSeconds = idleCpu;
    return f;
}

Figures MeasureSession(const std::string& address, sim::TrafficLog& log) {
    PanelState state;
    BenchView view;
    sim::ParseDotted(address, view.address);
    TcpStream stream(state.m_bLinkDown.Atomic(), SystemClock::Instance());
    NetLink link(state, view, stream, SystemClock::Instance());
    link.OnConnect();
    WaitUntil([&] { return view.known && state.m_nCommand == 0; });
    std::vector<double> latencies = MeasurePickup(state, view, log);
    const double cpuStart = ThreadCpuSeconds(view.sessionThread);
    std::this_thread::sleep_for(kIdle);
    const double idleCpu = ThreadCpuSeconds(view.sessionThread) - cpuStart;
    link.OnDisconnect();
    link.Stop();
    return Summarise(latencies, idleCpu);
}

// The loop as a busy poller would write it: it re-reads the command slot without waiting.
void BusyPollingLoop(PanelState& state, ByteStream& stream) {
    while (state.m_bLinkDown == 0) {
        const uint8_t code = state.m_nCommand;
        if (code == 0) continue;
        const char line[] = "BTN1\r\n";
        stream.Send(line, sizeof line - 1);
        state.StoreCommand(0);
    }
}

Figures MeasureBusyPolling(const std::string& address, sim::TrafficLog& log) {
    PanelState state;
    BenchView view;
    TcpStream stream(state.m_bLinkDown.Atomic(), SystemClock::Instance());
    state.StoreLinkDown(0);
    if (!stream.Connect(address.c_str(), 23)) return {};
    char reply[450];
    stream.Receive(reply, sizeof reply);
    for (const char* line : {"admin\r\n", "846\r\n"}) {
        stream.Send(line, static_cast<int>(std::strlen(line)));
        stream.Receive(reply, sizeof reply);
    }
    std::thread loop(BusyPollingLoop, std::ref(state), std::ref(stream));
    std::vector<double> latencies = MeasurePickup(state, view, log);
    const double cpuStart = ThreadCpuSeconds(loop.native_handle());
    std::this_thread::sleep_for(kIdle);
    const double idleCpu = ThreadCpuSeconds(loop.native_handle()) - cpuStart;
    state.StoreLinkDown(1);
    loop.join();
    stream.Close();
    return Summarise(latencies, idleCpu);
}

void Print(const char* name, const Figures& f) {
    std::printf(
        "  %-24s pickup median %7.3f ms, p99 %7.3f ms; idle CPU %9.6f s = %6.2f %% of a core\n",
        name, f.medianMs, f.p99Ms, f.idleCpuSeconds,
        100.0 * f.idleCpuSeconds / std::chrono::duration<double>(kIdle).count());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string address = argc > 1 ? argv[1] : "127.0.0.60";
    uint32_t ip = 0;
    if (!sim::ParseDotted(address, ip)) {
        std::fprintf(stderr, "session_latency: not an address: %s\n", address.c_str());
        return 2;
    }
    sim::Unit unit(ip, ip);
    sim::TrafficLog log;
    sim::TcpConsole console(unit, log, sim::Faults{});
    if (!console.Start(address, 23)) {
        std::fprintf(stderr, "session_latency: %s\n", console.Error().c_str());
        return 1;
    }
    std::printf("%d commands each, then %.0f s connected and idle, against %s:23\n", kCommands,
                std::chrono::duration<double>(kIdle).count(), address.c_str());
    const Figures session = MeasureSession(address, log);
    Print("session (waits on slot)", session);
    const Figures busy = MeasureBusyPolling(address, log);
    Print("busy-polling loop", busy);
    const bool met = session.p99Ms < 1.0 &&
                     session.idleCpuSeconds < 0.01 * std::chrono::duration<double>(kIdle).count();
    if (session.idleCpuSeconds > 0) {
        std::printf("idle CPU, busy-polling / session: %.0f times\n",
                    busy.idleCpuSeconds / session.idleCpuSeconds);
    }
    std::printf("target p99 < 1 ms and idle CPU < 1 %% of a core: %s\n", met ? "met" : "NOT met");
    console.Stop();
    return 0;
}

// Benchmark: vantrel-gateway over 256 simulated units polled every 5 s, with a change at every
// unit each poll period, and 64 Ember+ consumers each holding the whole tree (every unit's
// directory). Prints how long a change takes from the unit to each consumer (median, p99), and
// the gateway's CPU beside the same gateway without Ember+, in the same run. Runs in a network
// namespace of its own that has only lo, so it needs root.
// With "flood": a gateway over 4 units and 64 Ember+ clients (8 from each of 8 addresses) that
// send, over and over, messages asking for 2,000 directories each and read nothing, connecting
// again when closed; prints the p99 of GET /api/units at concurrency 8 over 15 s meanwhile,
// beside the same requests without them.
//   ember_push [SECONDS]     the measuring window, 30 by default
//   ember_push flood
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_units.h"
#include "bench/gateway_child.h"
#include "bench/load_client.h"
#include "bench/loopback_namespace.h"
#include "bench/proc_figures.h"
#include "ember/glow.h"
#include "ember/s101.h"

namespace {

using namespace vantrel;
using namespace vantrel::bench;
using Clock = std::chrono::steady_clock;

constexpr int kUnits = 256;
constexpr int kConsumers = 64;
constexpr uint32_t kBlock = 190;  // the units on 127.0.190.1 upwards
constexpr int kHttpPort = 18190;
constexpr int kEmberPort = 19190;
constexpr std::chrono::seconds kPoll{5};
constexpr std::uint32_t kVolume = 2;  // the parameter's number under its unit

/// A connection from loopback address `local` (first octet in the top byte) to 127.0.0.1:`port`;
/// none when it cannot be made. Clients come from addresses of their own: the provider takes at
/// most 8 from one.
Fd ConnectFrom(std::uint32_t local, int port) {
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(local);
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        return Fd();
    }
    return fd;
}

/// Sets every unit's volume to a new value once each poll period, noting when.
class Changer {
  public:
    explicit Changer(std::vector<std::unique_ptr<BenchUnit>>& units)
        : m_units(units), m_at(units.size()) {}
    ~Changer() { Stop(); }

    void Start() {
        m_thread = std::thread([this] {
            for (int cycle = 1; !m_stop; ++cycle) {
                const int value = 10 + cycle % 20;
                m_value = value;
                for (std::size_t i = 0; i < m_units.size(); ++i) {
                    m_at[i] = Clock::now().time_since_epoch().count();
                    m_units[i]->unit.SetLevel(sim::Level::Volume, value);
                }
                m_changes += static_cast<long>(m_units.size());
                const auto next = Clock::now() + kPoll;
                while (!m_stop && Clock::now() < next) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            }
        });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    /// How long ago the unit was last set to `value`; none if it was set to another since.
    std::optional<double> SinceMs(std::size_t unit, std::int64_t value) const {
        if (value != m_value) return std::nullopt;
        const auto at = Clock::time_point(Clock::duration(m_at[unit].load()));
        return std::chrono::duration<double, std::milli>(Clock::now() - at).count();
    }
    long Changes() const { return m_changes; }

  private:
    std::vector<std::unique_ptr<BenchUnit>>& m_units;
    std::vector<std::atomic<Clock::rep>> m_at;
    std::atomic<int> m_value{-1};
    std::atomic<long> m_changes{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// An Ember+ consumer on a thread of its own: asks for every unit's directory, then notes the
/// delay of each volume push that carries the changer's latest value. It asks for a keep-alive
/// every 10 s, as consumers do, which the provider needs to keep it.
class Consumer {
  public:
    Consumer(const Changer& changer, const std::atomic<bool>& measuring, std::uint32_t number)
        : m_changer(changer), m_measuring(measuring), m_number(number) {}
    ~Consumer() { Stop(); }

    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    /// Whether it holds every unit's directory.
    bool Holding() const { return m_answers >= kUnits; }
    const std::vector<double>& Delays() const { return m_delays; }

  private:
    void Send(const ember::S101Message& message) {
        const ember::Bytes frame = ember::EncodeS101(message);
        send(m_fd.Get(), frame.data(), frame.size(), MSG_NOSIGNAL);
    }

    void Run() {
        m_fd = ConnectFrom((127u << 24) | (3u << 8) | m_number, kEmberPort);
        if (!m_fd.Open()) return;
        const auto getDirectory =
            ember::CommandElement({ember::CommandType::kGetDirectory, -1, std::nullopt});
        for (std::uint32_t unit = 1; unit <= kUnits; ++unit) {
            ember::Element node = ember::QualifiedElement(ember::ElementKind::kNode, {1, 1, unit});
            node.children = std::vector<ember::Element>{getDirectory};
            Send({ember::S101Kind::kEmber, ember::EncodeGlow({std::vector<ember::Element>{node}})});
        }
        ember::S101Decoder decoder;
        std::uint8_t buffer[64 * 1024];
        auto keepAlive = Clock::now();
        while (!m_stop) {
            if (Clock::now() - keepAlive >= std::chrono::seconds(10)) {
                Send({ember::S101Kind::kKeepAliveRequest, {}});
                keepAlive = Clock::now();
            }
            pollfd p{m_fd.Get(), POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = recv(m_fd.Get(), buffer, sizeof buffer, 0);
            if (n <= 0) return;
            decoder.Feed(buffer, static_cast<std::size_t>(n),
                         [this](ember::S101Message m) { Take(m); });
        }
    }

    void Take(const ember::S101Message& message) {
        if (message.kind != ember::S101Kind::kEmber) return;
        ember::Result<ember::Root> root = ember::DecodeGlow(message.glow);
        const auto* elements =
            root.Ok() ? std::get_if<std::vector<ember::Element>>(&root.Value().body) : nullptr;
        if (!elements) return;
        // A directory's answer holds the unit's 15 children; a push, what changed.
        if (elements->size() == 15) ++m_answers;
        if (!m_measuring) return;
        for (const ember::Element& e : *elements) {
            const auto* contents = std::get_if<ember::ParameterContents>(&e.contents);
            if (e.path.size() != 4 || e.path[3] != kVolume || !contents || !contents->value)
                continue;
            const auto* value = std::get_if<std::int64_t>(&*contents->value);
            if (!value) continue;
            if (auto delay = m_changer.SinceMs(e.path[2] - 1, *value)) m_delays.push_back(*delay);
        }
    }

    const Changer& m_changer;
    const std::atomic<bool>& m_measuring;
    const std::uint32_t m_number;  // from 1
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_answers{0};
    Fd m_fd;
    std::vector<double> m_delays;
    std::thread m_thread;
};

struct Figures {
    std::string missing;  // why it was not measured; "" when it was
    double coreShare = 0;
    double peakMiB = 0;
    std::vector<double> delays;
    long expected = 0;  // pushes the changes called for
};

Figures Measure(std::vector<std::unique_ptr<BenchUnit>>& units, bool ember, int window) {
    Figures figures;
    std::vector<std::string> extra;
    if (ember) extra = {"--ember", "127.0.0.1:" + std::to_string(kEmberPort)};
    GatewayChild gateway(UnitNames(kUnits, kBlock), kHttpPort, extra);
    if (!gateway.WaitAllUp(kUnits, std::chrono::seconds(60))) {
        figures.missing = "the gateway's units did not come up";
        return figures;
    }
    Changer changer(units);
    std::atomic<bool> measuring{false};
    std::vector<std::unique_ptr<Consumer>> consumers;
    if (ember) {
        for (int i = 0; i < kConsumers; ++i) {
            consumers.push_back(
                std::make_unique<Consumer>(changer, measuring, static_cast<std::uint32_t>(i + 1)));
            consumers.back()->Start();
        }
        const auto end = Clock::now() + std::chrono::seconds(60);
        auto holding = [&] {
            return std::all_of(consumers.begin(), consumers.end(),
                               [](const auto& c) { return c->Holding(); });
        };
        while (!holding() && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!holding()) {
            figures.missing = "the consumers did not get the whole tree";
            return figures;
        }
    }
    // Settled first: the connects, whole reads and directories are not the steady load.
    std::this_thread::sleep_for(kPoll);
    measuring = true;
    const double cpuBefore = CpuSeconds(gateway.Pid());
    const auto start = Clock::now();
    changer.Start();
    std::this_thread::sleep_for(std::chrono::seconds(window));
    changer.Stop();
    figures.coreShare = (CpuSeconds(gateway.Pid()) - cpuBefore) /
                        std::chrono::duration<double>(Clock::now() - start).count();
    // The last changes get the poll period and a second more to arrive.
    std::this_thread::sleep_for(kPoll + std::chrono::seconds(1));
    figures.peakMiB = MemoryMiB(gateway.Pid(), "VmHWM");
    for (auto& consumer : consumers) {
        consumer->Stop();
        const auto& delays = consumer->Delays();
        figures.delays.insert(figures.delays.end(), delays.begin(), delays.end());
    }
    figures.expected = ember ? changer.Changes() * kConsumers : 0;
    return figures;
}

constexpr int kFloodUnits = 4;
constexpr uint32_t kFloodBlock = 191;  // those units on 127.0.191.1 upwards
constexpr int kFloodHttpPort = 18191;
constexpr int kFloodEmberPort = 19191;

/// 64 clients on a thread, each writing the same message again and again as fast as the gateway
/// takes it and reading nothing; one the gateway closes connects again.
class Flood {
  public:
    Flood() : m_thread([this] { Run(); }) {}
    ~Flood() {
        m_stop = true;
        m_thread.join();
    }
    /// The connections made so far: 64, and one more for each the gateway closed.
    long Connects() const { return m_connects; }

  private:
    struct Client {
        Fd fd;
        std::size_t sent = 0;  // of the message
    };

    static ember::Bytes Message() {
        std::vector<ember::Element> elements;
        for (int i = 0; i < 2000; ++i) {
            ember::Element node = ember::QualifiedElement(
                ember::ElementKind::kNode, {1, 1, static_cast<std::uint32_t>(i % kFloodUnits + 1)});
            node.children = std::vector<ember::Element>{
                ember::CommandElement({ember::CommandType::kGetDirectory, -1, std::nullopt})};
            elements.push_back(node);
        }
        return ember::EncodeS101({ember::S101Kind::kEmber, ember::EncodeGlow({elements})});
    }

    static Fd Connect(int index) {
        Fd fd = ConnectFrom((127u << 24) | (4u << 8) | static_cast<uint32_t>(index / 8 + 1),
                            kFloodEmberPort);
        if (fd.Open()) fcntl(fd.Get(), F_SETFL, O_NONBLOCK);
        return fd;
    }

    void Run() {
        const ember::Bytes message = Message();
        std::vector<Client> clients(kConsumers);
        while (!m_stop) {
            std::vector<pollfd> waits;
            for (int i = 0; i < kConsumers; ++i) {
                Client& c = clients[i];
                if (c.fd.Get() < 0) {
                    c = {Connect(i), 0};
                    if (c.fd.Get() < 0) continue;
                    ++m_connects;
                }
                const ssize_t n = send(c.fd.Get(), message.data() + c.sent, message.size() - c.sent,
                                       MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) c.sent = (c.sent + static_cast<std::size_t>(n)) % message.size();
                if (n < 0 && errno != EAGAIN) c.fd = Fd();
                if (c.fd.Get() >= 0) waits.push_back({c.fd.Get(), POLLOUT, 0});
            }
            poll(waits.data(), waits.size(), 50);
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<long> m_connects{0};
    std::thread m_thread;
};

// The p99 of HTTP requests to a gateway with Ember+ on, with the flood or without it; 0 when
// they were not all answered.
double HttpP99(bool flood) {
    GatewayChild gateway(UnitNames(kFloodUnits, kFloodBlock), kFloodHttpPort,
                         {"--ember", "127.0.0.1:" + std::to_string(kFloodEmberPort)});
    if (!gateway.WaitAllUp(kFloodUnits, std::chrono::seconds(30))) return 0;
    std::optional<Flood> clients;
    if (flood) clients.emplace();
    const double cpuBefore = CpuSeconds(gateway.Pid());
    const auto start = Clock::now();
    // Past the gateway's 10 s drain deadline, so the clients it closed have come again.
    LoadFigures figures;
    int errors = 0;
    while (Clock::now() < start + std::chrono::seconds(15)) {
        LoadPlan plan;
        plan.port = kFloodHttpPort;
        plan.paths = {"/api/units"};
        plan.requests = 500;
        plan.concurrency = 8;
        plan.deadline = Clock::now() + std::chrono::seconds(20);
        const LoadFigures part = LoadClient(plan).Run();
        figures.latencyMs.insert(figures.latencyMs.end(), part.latencyMs.begin(),
                                 part.latencyMs.end());
        errors += part.Errors();
    }
    std::sort(figures.latencyMs.begin(), figures.latencyMs.end());
    const double core = (CpuSeconds(gateway.Pid()) - cpuBefore) /
                        std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "  %-34s p99 %6.2f ms  median %5.2f ms  max %6.1f ms  %zu requests, %d errors  gateway "
        "cpu %5.1f%% of a core\n",
        flood ? "64 Ember+ clients flooding:" : "baseline, Ember+ on, no clients:",
        figures.Percentile(0.99), figures.Percentile(0.5), figures.Max(), figures.latencyMs.size(),
        errors, core * 100);
    if (clients) std::printf("  the Ember+ clients connected %ld times\n", clients->Connects());
    return errors == 0 ? figures.Percentile(0.99) : 0;
}

// Enters the run's namespace and starts `count` units on `block`: 0, or the status to exit with.
int Begin(int count, uint32_t block, std::vector<std::unique_ptr<BenchUnit>>& units) {
    if (const int status = EnterBenchRun("ember_push"); status != 0) return status;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return StartUnits(count, block, units) ? 0 : 1;
}

int RunFlood() {
    std::vector<std::unique_ptr<BenchUnit>> units;
    if (const int status = Begin(kFloodUnits, kFloodBlock, units); status != 0) return status;
    std::printf(
        "vantrel-gateway over %d simulated units with Ember+; GET /api/units at concurrency 8 "
        "for 15 s\n",
        kFloodUnits);
    HttpP99(false);
    const double flooded = HttpP99(true);
    std::printf("  the target: p99 under 50 ms with the flood\n");
    return flooded > 0 && flooded < 50 ? 0 : 1;
}

double Percentile(std::vector<double> values, int percent) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * percent / 100)];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "flood") return RunFlood();
    const int window = argc > 1 ? std::atoi(argv[1]) : 30;
    if (window < 10) {
        std::fprintf(stderr, "usage: ember_push [SECONDS]   (at least 10; 30 by default)\n");
        return 2;
    }
    std::vector<std::unique_ptr<BenchUnit>> units;
    if (const int status = Begin(kUnits, kBlock, units); status != 0) return status;
    std::printf(
        "vantrel-gateway over %d simulated units, polls every 5 s, every unit's volume changed "
        "once each 5 s; cpu over %d s\n",
        kUnits, window);
    const Figures plain = Measure(units, false, window);
    const Figures ember = Measure(units, true, window);
    if (!plain.missing.empty())
        std::printf("  without Ember+: not measured: %s\n", plain.missing.c_str());
    if (!ember.missing.empty()) std::printf("  Ember+: not measured: %s\n", ember.missing.c_str());
    if (!plain.missing.empty() || !ember.missing.empty()) return 1;
    std::printf("  without Ember+          cpu %5.2f%% of a core  peak %6.1f MiB\n",
                plain.coreShare * 100, plain.peakMiB);
    std::printf("  Ember+, %d consumers    cpu %5.2f%% of a core  peak %6.1f MiB\n", kConsumers,
                ember.coreShare * 100, ember.peakMiB);
    const double median = Percentile(ember.delays, 50), p99 = Percentile(ember.delays, 99);
    std::printf(
        "  push latency, change at the unit to the consumer: median %.0f ms, p99 %.0f ms "
        "(%zu pushes of %ld changes to consumers)\n",
        median, p99, ember.delays.size(), ember.expected);
    const double bound = std::chrono::duration<double, std::milli>(kPoll).count() + 1000;
    std::printf("  the bound: the poll period plus 1 s, %.0f ms\n", bound);
    return p99 <= bound && static_cast<long>(ember.delays.size()) >= ember.expected ? 0 : 1;
}

// Benchmark: vantrelctl's firmware update of 256 simulated units at once (or as many as the
// first argument says), beside the update of one unit measured in the same run. Each unit has
// its own loopback address, 127.0.100.1 upwards, on port 23, so it needs root.
//
// A second baseline is the transport alone: as many bare loopback TCP pairs as units, each
// making as many request/reply round trips as one unit's update made, with nothing else in
// them. With the fixed pauses of one update (its time less its work), that gives the lowest
// time this machine could update the fleet in, whatever the tool and the units did.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_units.h"

namespace {

using namespace vantrel::bench;

// 127.0.100.1 upwards: clear of the tests' 127.0.0.x.
constexpr uint32_t kBlock = 100;

struct Run {
    double seconds = 0;
    int code = 0;
    double toolCpu = 0;  // vantrelctl's user + system time
    double simCpu = 0;   // the simulated units' (this process)
};

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// One vantrelctl run over the first `count` units, all of them at once.
Run Update(int count, const std::string& file) {
    const std::string list = "/tmp/vantrel-fleet-bench.units";
    std::FILE* out = std::fopen(list.c_str(), "w");
    if (!out) return {0, -1};
    for (int i = 0; i < count; ++i)
        std::fprintf(out, "%s\n", Dotted(UnitAddress(i, kBlock)).c_str());
    std::fclose(out);
    const std::string command = std::string(VANTREL_CTL) + " --units-file " + list + " --jobs " +
                                std::to_string(count) + " firmware main " + file +
                                " > /dev/null 2>/tmp/vantrel-fleet-bench.err";
    const double toolBefore = CpuSeconds(RUSAGE_CHILDREN);
    const double simBefore = CpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    Run run;
    run.code = std::system(command.c_str());
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.toolCpu = CpuSeconds(RUSAGE_CHILDREN) - toolBefore;
    run.simCpu = CpuSeconds(RUSAGE_SELF) - simBefore;
    std::remove(list.c_str());
    return run;
}

struct Floor {
    double seconds = 0;
    double cpu = 0;
    bool ok = false;
};

// `pairs` loopback TCP connections at once, each making `roundTrips` exchanges of a 64-byte
// request and a 4-byte reply (about a loader packet and its answer), on blocking sockets.
Floor TransportFloor(int pairs, int roundTrips) {
    Floor floor;
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(0x7F006301u);  // 127.0.99.1, any free port
    socklen_t length = sizeof addr;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, pairs) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        if (listener >= 0) close(listener);
        return floor;
    }
    std::vector<int> clients, servers;
    for (int i = 0; i < pairs; ++i) {
        const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (client < 0 || connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            break;
        }
        clients.push_back(client);
        servers.push_back(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    }
    close(listener);
    auto exact = [](int fd, char* buffer, size_t size, bool sending) {
        for (size_t done = 0; done < size;) {
            const ssize_t n = sending ? send(fd, buffer + done, size - done, MSG_NOSIGNAL)
                                      : recv(fd, buffer + done, size - done, 0);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    };
    std::vector<std::thread> threads;
    std::vector<char> passed(clients.size(), 0);
    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < clients.size(); ++i) {
        threads.emplace_back([&, i] {
            char request[64] = {}, reply[4] = {};
            bool ok = true;
            for (int n = 0; ok && n < roundTrips; ++n) {
                ok = exact(clients[i], request, sizeof request, true) &&
                     exact(clients[i], reply, sizeof reply, false);
            }
            passed[i] = ok;
            shutdown(clients[i], SHUT_WR);
        });
        threads.emplace_back([&, i] {
            char request[64], reply[4] = {};
            while (exact(servers[i], request, sizeof request, false) &&
                   exact(servers[i], reply, sizeof reply, true)) {
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    floor.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    floor.cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    floor.ok = static_cast<int>(clients.size()) == pairs;
    for (size_t i = 0; i < clients.size(); ++i) {
        floor.ok = floor.ok && passed[i];
        close(clients[i]);
        if (servers[i] >= 0) close(servers[i]);
    }
    return floor;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 256;
    if (count < 1 || count > 1000) {
        std::fprintf(stderr, "usage: fleet_update [UNITS]   (1 to 1000, 256 by default)\n");
        return 2;
    }
    const rlim_t files = RaiseOpenFileLimit();
    if (files < static_cast<rlim_t>(4 * count + 64)) {
        std::fprintf(stderr, "open file limit %llu is too low for %d units\n",
                     static_cast<unsigned long long>(files), count);
        return 1;
    }

    const std::string file = "/tmp/vantrel-fleet-bench.bin";
    std::vector<unsigned char> image(128 * 1024);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 13 + 7);
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size()) return 1;
    std::fclose(out);

    std::vector<std::unique_ptr<BenchUnit>> units;
    if (!StartUnits(count, kBlock, units)) return 1;
    const Run one = Update(1, file);
    // Every loader packet one unit received is one round trip of its update.
    const int roundTrips = static_cast<int>(units[0]->log.Lines("loader").size());
    const Run all = Update(count, file);
    int updated = 0;
    for (const auto& unit : units) updated += unit->unit.MainFlash() == image;
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("firmware main, 128 KiB over the console (open file limit %llu, load %.2f)\n",
                static_cast<unsigned long long>(files), load[0]);
    std::printf("  1 unit:     %7.3f s (exit %d; cpu: vantrelctl %.2f s, simulated units %.2f s)\n",
                one.seconds, one.code, one.toolCpu, one.simCpu);
    std::printf(
        "  %3d units:  %7.3f s (exit %d; cpu: vantrelctl %.2f s, simulated units %.2f s;"
        " %d of %d flashes hold the image)\n",
        count, all.seconds, all.code, all.toolCpu, all.simCpu, updated, count);
    std::printf("  ratio %d units / 1 unit: %.3f (target 1.5 or less)\n", count,
                all.seconds / one.seconds);
    const Floor floor = TransportFloor(count, roundTrips);
    const double pauses = one.seconds - one.toolCpu - one.simCpu;
    std::printf(
        "  transport alone: %d loopback TCP pairs x %d round trips: %.3f s (cpu %.2f s)%s\n", count,
        roundTrips, floor.seconds, floor.cpu, floor.ok ? "" : " [failed]");
    std::printf(
        "  lowest possible here: 1 unit's pauses %.3f s + the transport %.3f s = %.3f s,"
        " ratio %.3f\n",
        pauses, floor.seconds, pauses + floor.seconds, (pauses + floor.seconds) / one.seconds);
    if (all.code != 0) std::printf("  vantrelctl's errors: /tmp/vantrel-fleet-bench.err\n");
    std::remove(file.c_str());
    return one.code == 0 && all.code == 0 && updated == count ? 0 : 1;
}

// COUNT simulated units on 127.0.BLOCK.1 upwards (port 23), each turning its volume one step
// once a second, spread over the second: the steady stream of changes a large rack makes, for
// the browser test of the page's rack view. Prints "ready" once every unit listens, and runs
// until its standard input closes. Run it where only lo is (the browser test's namespace).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bench/bench_units.h"

using namespace vantrel::bench;

int main(int argc, char** argv) {
    const int count = argc > 2 ? std::atoi(argv[1]) : 0;
    const int block = argc > 2 ? std::atoi(argv[2]) : 0;
    if (count < 1 || count > 2000 || block < 1 || block > 250) {
        std::fprintf(stderr, "usage: changing_units COUNT BLOCK   (units on 127.0.BLOCK.1 on)\n");
        return 2;
    }
    if (RaiseOpenFileLimit() < static_cast<rlim_t>(3 * count + 64)) {
        std::fprintf(stderr, "the open file limit is too low for %d units\n", count);
        return 1;
    }
    std::vector<std::unique_ptr<BenchUnit>> units;
    if (!StartUnits(count, static_cast<uint32_t>(block), units)) return 1;
    std::printf("ready\n");
    std::fflush(stdout);

    std::atomic<bool> stop{false};
    std::thread watch([&stop] {
        char byte;
        while (read(STDIN_FILENO, &byte, 1) > 0) {
        }
        stop = true;
    });
    const auto gap = std::chrono::microseconds(1000000 / count);
    auto next = std::chrono::steady_clock::now();
    for (size_t i = 0; !stop; i = (i + 1) % units.size()) {
        vantrel::sim::Unit& unit = units[i]->unit;
        const int volume = unit.GetLevel(vantrel::sim::Level::Volume);
        unit.SetLevel(vantrel::sim::Level::Volume,
                      (volume + 1) % (vantrel::sim::Unit::kVolumeMax + 1));
        next += gap;
        std::this_thread::sleep_until(next);
    }
    watch.join();
    return 0;
}

// Benchmark: vantrelctl's firmware update of 8 simulated units at once, beside the update of
// one unit measured in the same run. Needs root (port 23 on 127.0.0.11 to 127.0.0.18).
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/tcp_console.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace {

using namespace vantrel::sim;

struct BenchUnit {
    explicit BenchUnit(uint32_t ip) : unit(ip, ip), console(unit, log, faults) {}
    Unit unit;
    TrafficLog log;
    Faults faults;
    TcpConsole console;
};

double Update(const std::string& units, const std::string& file, int& code) {
    const auto start = std::chrono::steady_clock::now();
    const std::string command =
        std::string(VANTREL_CTL) + units + " firmware main " + file + " > /dev/null 2>&1";
    code = std::system(command.c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    const std::string file = "/tmp/vantrel-fleet-bench.bin";
    std::vector<unsigned char> image(128 * 1024);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 13 + 7);
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size()) return 1;
    std::fclose(out);

    std::vector<std::unique_ptr<BenchUnit>> units;
    std::string all;
    for (int i = 11; i <= 18; ++i) {
        const std::string address = "127.0.0." + std::to_string(i);
        units.push_back(std::make_unique<BenchUnit>(0x7F000000u | static_cast<uint32_t>(i)));
        if (!units.back()->console.Start(address, 23)) {
            std::fprintf(stderr, "cannot listen on %s:23: %s\n", address.c_str(),
                         units.back()->console.Error().c_str());
            return 1;
        }
        all += " --unit " + address;
    }
    int oneCode = 0;
    int allCode = 0;
    const double one = Update(" --unit 127.0.0.11", file, oneCode);
    const double eight = Update(all, file, allCode);
    int updated = 0;
    for (const auto& unit : units) updated += unit->unit.MainFlash().size() == image.size();
    std::printf("firmware main, 128 KiB over the console\n");
    std::printf("  1 unit:   %7.3f s (exit %d)\n", one, oneCode);
    std::printf("  8 units:  %7.3f s (exit %d, %d flashes of the image's size)\n", eight, allCode,
                updated);
    std::printf("  ratio 8 units / 1 unit: %.3f (target 1.5 or less)\n", eight / one);
    std::remove(file.c_str());
    return oneCode == 0 && allCode == 0 ? 0 : 1;
}

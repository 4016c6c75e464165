#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/line_log.h"
#include "sim/tcp_console.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace vantrel::bench {

/// A simulated unit's console in the benchmark's process; its IP setting and default IP are
/// both its own loopback address.
struct BenchUnit {
    explicit BenchUnit(uint32_t ip) : unit(ip, ip), console(unit, log, faults) {}
    sim::Unit unit;
    sim::TrafficLog log;
    sim::Faults faults;
    sim::LineLog lines;  // written only when StartUnits is given a folder for it
    sim::TcpConsole console;
};

/// The index-th unit's address: 127.0.BLOCK.1 to 127.0.BLOCK.250, then 127.0.BLOCK+1.1 on, so
/// that each benchmark keeps clear of the tests' addresses and of the others'.
inline uint32_t UnitAddress(int index, uint32_t block) {
    return 0x7F000000u | (block + static_cast<uint32_t>(index / 250)) << 8 |
           static_cast<uint32_t>(1 + index % 250);
}

inline std::string Dotted(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
           std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

/// The first `count` units' addresses, as a gateway is given them.
inline std::vector<std::string> UnitNames(int count, uint32_t block) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(Dotted(UnitAddress(i, block)));
    return names;
}

/// Each unit's console holds a listening socket, a wake pipe and its connection, and the
/// program under test (which inherits the limit) a socket per unit: more than a default soft
/// limit of 1024 allows. Returns the limit now in force.
inline rlim_t RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
}

/// Where StartUnits writes a unit's line log (sim/line_log.h) in `folder`.
inline std::string LineLogPath(const std::string& folder, uint32_t address) {
    return folder + "/" + Dotted(address) + ".lines";
}

/// Starts `count` units from 127.0.BLOCK.1 on, each listening on port 23, each with a line log
/// in `lineLogs` when that is given; false, with the reason printed, when one cannot start.
inline bool StartUnits(int count, uint32_t block, std::vector<std::unique_ptr<BenchUnit>>& units,
                       const std::string& lineLogs = "") {
    for (int i = 0; i < count; ++i) {
        const uint32_t address = UnitAddress(i, block);
        units.push_back(std::make_unique<BenchUnit>(address));
        if (!lineLogs.empty()) {
            if (!units.back()->lines.Open(LineLogPath(lineLogs, address))) {
                std::fprintf(stderr, "cannot write %s\n", LineLogPath(lineLogs, address).c_str());
                return false;
            }
            units.back()->console.SetLineLog(units.back()->lines);
        }
        if (!units.back()->console.Start(Dotted(address), 23)) {
            std::fprintf(stderr, "cannot listen on %s:23: %s\n", Dotted(address).c_str(),
                         units.back()->console.Error().c_str());
            return false;
        }
    }
    return true;
}

}  // namespace vantrel::bench

#pragma once

#include <string>

#include "sim/dotted_address.h"
#include "sim/faults.h"
#include "sim/tcp_console.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace vantrel::testing {

inline uint32_t AddressValue(const std::string& dotted) {
    uint32_t address = 0;
    sim::ParseDotted(dotted, address);
    return address;
}

/// A simulated unit on its own loopback address, port 23, in this process. Its IP setting
/// starts as that address; Default IP and factory reset restore 192.168.1.220 as a value only.
struct SimulatedUnit {
    explicit SimulatedUnit(const std::string& dotted, const sim::Faults& faults = {})
        : address(dotted),
          unit(AddressValue(dotted), sim::Unit::kFactoryDefaultIp),
          console(unit, log, faults) {}

    /// Starts listening; false (reason in console.Error()) when it cannot.
    bool Start() { return console.Start(address, 23); }

    const std::string address;
    sim::Unit unit;
    sim::TrafficLog log;
    sim::TcpConsole console;
};

}  // namespace vantrel::testing

#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "serial/com_ports.h"
#include "sim/serial_console.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace vantrel::testing {

/// A test against the simulated unit's serial side: a pty served by the unit (IP 127.0.0.2),
/// mapped to COM port `comPort` for the native SerialPort.
class SerialUnitTest : public ::testing::Test {
  protected:
    explicit SerialUnitTest(std::uint32_t comPort) : m_comPort(comPort) {}
    void SetUp() override { StartUnit({}); }
    void TearDown() override { MapComPort(m_comPort, ""); }

    /// Serves the pty anew, misbehaving as faults say.
    void StartUnit(const sim::SerialFaults& faults) {
        console = std::make_unique<sim::SerialConsole>(unit, log, faults);
        ASSERT_TRUE(console->Start()) << console->Error();
        MapComPort(m_comPort, console->DevicePath());
    }

    sim::Unit unit{0x7F000002, 0x7F000002};
    sim::TrafficLog log;
    std::unique_ptr<sim::SerialConsole> console;

  private:
    const std::uint32_t m_comPort;
};

}  // namespace vantrel::testing

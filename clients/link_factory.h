#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "clients/exchange_log.h"
#include "serial/serial_device.h"
#include "unit/byte_stream.h"
#include "unit/clock.h"
#include "unit_link/unit_link.h"

namespace vantrel::clients {

/// One unit as named on the command line.
struct Target {
    std::string name;  // as given: "127.0.0.11", "/dev/ttyUSB0", "COM3"
    bool serial = false;
    std::uint32_t address = 0;  // the console's, first octet in the top byte
};

struct LinkOptions {
    Clock::Duration connectLimit{5000};
    /// Where every exchange is logged (--log); none when null.
    ExchangeLog* log = nullptr;
    /// Ends the console's waits and a firmware update (between packets) early once it holds a
    /// value other than 0; the tool's waits end at their time limits when none is given.
    const std::atomic<int32_t>* stop = nullptr;
    /// What the link's pauses and time limits are measured on.
    Clock* clock = &SystemClock::Instance();
    /// Slid between the link and its transport (a guard that may refuse what is sent, say);
    /// the transport is used as made when empty.
    std::function<std::unique_ptr<ByteStream>(std::unique_ptr<ByteStream>)> wrapStream;
    std::function<std::unique_ptr<SerialDevice>(std::unique_ptr<SerialDevice>)> wrapDevice;
    /// The local address a console link binds before it connects (A in the top byte); the
    /// system picks one when none is given.
    std::optional<std::uint32_t> source;
};

/// The transports under a unit's link, made apart so that a decorator (a traffic log, say)
/// can be slid between them and the link.
std::unique_ptr<ByteStream> MakeStream(const Target& target, const LinkOptions& options);
std::unique_ptr<SerialDevice> MakeDevice(const Target& target, const LinkOptions& options);

/// The unit's link: its console over MakeStream's stream, or its serial port over
/// MakeDevice's device; with a log, each of its calls is a line there.
std::unique_ptr<UnitLink> MakeLink(const Target& target, const LinkOptions& options);

}  // namespace vantrel::clients

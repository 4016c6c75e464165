#include "clients/link_factory.h"

#include <atomic>
#include <cstdlib>

#include "clients/logged_link.h"
#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "unit_link/console_unit_link.h"
#include "unit_link/serial_unit_link.h"
#include "unit/tcp_stream.h"
#include "unit/traffic_recorder.h"

namespace vantrel::clients {
namespace {

const std::atomic<int32_t> kNeverStop{0};

// The number under which the port is opened: COMn's own on Windows; natively a number that
// stands for the device path (as a pty stands for a COM port in the tests).
int32_t PortNumber(const std::string& port) {
#ifdef _WIN32
    if (port.size() < 4 || (port.compare(0, 3, "COM") != 0 && port.compare(0, 3, "com") != 0)) {
        return -1;
    }
    char* end = nullptr;
    const long number = std::strtol(port.c_str() + 3, &end, 10);
    return *end == '\0' && number > 0 && number <= 255 ? static_cast<int32_t>(number) : -1;
#else
    static std::atomic<uint32_t> next{200};
    const uint32_t number = next++;
    if (number > 255) return -1;
    MapComPort(number, port);
    return static_cast<int32_t>(number);
#endif
}

const std::atomic<int32_t>& StopOf(const LinkOptions& options) {
    return options.stop ? *options.stop : kNeverStop;
}

}  // namespace

std::unique_ptr<ByteStream> MakeStream(const Target&, const LinkOptions& options) {
    auto stream = std::make_unique<TcpStream>(StopOf(options), *options.clock);
    stream->SetConnectLimit(options.connectLimit);
    stream->SetSource(options.source);
    if (options.wrapStream) return options.wrapStream(std::move(stream));
    return stream;
}

std::unique_ptr<SerialDevice> MakeDevice(const Target&, const LinkOptions& options) {
    auto device = std::make_unique<SerialPort>([](const char*) {});
    if (options.wrapDevice) return options.wrapDevice(std::move(device));
    return device;
}

std::unique_ptr<UnitLink> MakeLink(const Target& target, const LinkOptions& options) {
    if (options.log) {
        auto recorder = std::make_unique<TrafficRecorder>(
            options.log->SinkFor(target.name, target.serial ? "serial" : "console"));
        if (target.serial) {
            std::shared_ptr<SerialDevice> device = MakeDevice(target, options);
            auto link = std::make_unique<SerialUnitLink>(
                PortNumber(target.name),
                std::make_unique<RecordingSerialDevice>(*device, *recorder), *options.clock,
                StopOf(options));
            return std::make_unique<LoggedLink>(std::move(recorder), device, std::move(link));
        }
        std::shared_ptr<ByteStream> stream = MakeStream(target, options);
        auto link = std::make_unique<ConsoleUnitLink>(
            target.address, std::make_unique<RecordingByteStream>(*stream, *recorder),
            *options.clock, StopOf(options));
        return std::make_unique<LoggedLink>(std::move(recorder), stream, std::move(link));
    }
    if (target.serial) {
        return std::make_unique<SerialUnitLink>(
            PortNumber(target.name), MakeDevice(target, options), *options.clock, StopOf(options));
    }
    return std::make_unique<ConsoleUnitLink>(target.address, MakeStream(target, options),
                                             *options.clock, StopOf(options));
}

}  // namespace vantrel::clients

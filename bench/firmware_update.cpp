// Firmware update times against the simulated unit, which holds each serial reply until its
// bytes would have crossed the line. Each COM port update is printed beside its floor: the
// fixed pauses, plus the wire time of the steps whose bytes take longer than their pause.
// The update through the console is printed beside its pauses.
//   firmware_update        (binds 127.0.0.72:23, so run as root in a network namespace)
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "firmware/image.h"
#include "firmware/loader_packets.h"
#include "firmware/loader_port.h"
#include "firmware/net_frames.h"
#include "firmware/serial_loader_link.h"
#include "firmware/stream_loader_link.h"
#include "firmware/update_procedures.h"
#include "unit/tcp_stream.h"
#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "sim/serial_console.h"
#include "sim/tcp_console.h"

namespace {

using namespace vantrel;
using namespace vantrel::firmware;
using Seconds = std::chrono::duration<double>;

constexpr std::int32_t kComPort = 21;

Image RandomImage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
    return BuildImage(std::move(bytes), Controller::kMain).Value();
}

// One step: a write, its pause, and the read of its reply.
double Step(double pauseMs, std::size_t bytes, unsigned baud) {
    return std::max(pauseMs / 1000, bytes * 10.0 / baud);
}

double MainFloor(std::size_t length) {
    double floor = 3.0 + Step(200, 3 + 2, 115200) + Step(2000, 11 + 2, 115200);
    for (std::size_t sent = 0; sent < length; sent += kChunkSize) {
        const std::size_t n = std::min(kChunkSize, length - sent);
        floor += Step(5, 3 + 5, 115200) + Step(15, 1 + n + 3 + 2, 115200);
    }
    return floor + Step(5, 3 + 5, 115200) + Step(10, 4 + 2, 115200);
}

double NetFloor(const std::vector<std::uint8_t>& image) {
    const unsigned baud = 19200;
    double floor = Step(50, 2, baud);
    for (const FlashStep& step : ErasePlan()) {
        floor += Step(50, 2, baud) +
                 Step(200, StuffFrame(EraseFrame(step.address, step.count)).size() + 4, baud);
    }
    std::vector<std::uint8_t> written = image;
    std::copy(kRelocatedStart.begin(), kRelocatedStart.end(), written.begin());
    floor += 0.05 + Step(200, 2, baud);
    for (const FlashStep& step : WritePlan(static_cast<std::uint32_t>(image.size()))) {
        const Frame frame = WriteFrame(written.data(), written.size(), step.address, step.count);
        floor += Step(200, 2, baud) + Step(300, StuffFrame(frame).size() + 5, baud);
    }
    const Frame closing = ClosingFrame({image[0], image[1], image[2], image[3]});
    return floor + Step(200, 2, baud) + Step(300, StuffFrame(closing).size() + 5, baud);
}

template <typename Run>
double Timed(Run run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return Seconds(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* what, const Outcome& outcome, double seconds, double floor) {
    std::printf("%-34s %8.3f s   floor %8.3f s   ratio %.4f   (%s)\n", what, seconds, floor,
                seconds / floor, FaultName(outcome.GetFault()));
}

}  // namespace

int main() {
    // The finest timer the system has, as the program asks Windows for one while it updates;
    // threads started from here inherit it.
    prctl(PR_SET_TIMERSLACK, 1UL);
    sim::Unit unit(0x7F000048, 0x7F000048);
    sim::TrafficLog log;
    sim::SerialConsole console(unit, log, {});
    console.SetPacing(true);
    if (!console.Start()) {
        std::fprintf(stderr, "firmware_update: %s\n", console.Error().c_str());
        return 1;
    }
    MapComPort(kComPort, console.DevicePath());
    SerialPort port([](const char*) {});
    Clock& clock = SystemClock::Instance();

    const StopFlag running{0};

    const Image mainImage = RandomImage(128 * 1024, 1);
    Outcome mainOutcome;
    const double mainSeconds = Timed([&] {
        OpenLoaderPort(port, kComPort, kMainLoaderBaud);
        SerialLoaderLink link(port);
        mainOutcome = UpdateMain(link, clock, mainImage, {}, running);
        port.Close();
    });
    Report("main controller, COM, 128 KiB", mainOutcome, mainSeconds, MainFloor(128 * 1024));

    const Image netImage = RandomImage(120 * 1024, 2);
    OpenLoaderPort(port, kComPort, kNetLoaderBaud);
    HoldLineInBreak(port);
    console.PowerCycle();
    Outcome netOutcome;
    const double netSeconds = Timed([&] {
        port.Close();  // ends the break
        OpenLoaderPort(port, kComPort, kNetLoaderBaud);
        netOutcome = UpdateNet(port, clock, netImage, {}, running);
        port.Close();
    });
    Report("net controller, COM, 120 KiB", netOutcome, netSeconds, NetFloor(netImage.bytes));

    sim::Faults faults;
    sim::TcpConsole tcp(unit, log, faults);
    std::atomic<std::int32_t> stop{0};
    TcpStream stream(stop, clock);
    char greeting[256];
    if (!tcp.Start("127.0.0.72", 23) || !stream.Connect("127.0.0.72", 23) ||
        stream.Receive(greeting, sizeof greeting) <= 0 || stream.Send("admin\r\n", 7) != 7 ||
        stream.Receive(greeting, sizeof greeting) <= 0 || stream.Send("846\r\n", 5) != 5 ||
        stream.Receive(greeting, sizeof greeting) <= 0) {
        std::fprintf(stderr, "firmware_update: no console on 127.0.0.72:23 (%s)\n",
                     tcp.Error().c_str());
        return 1;
    }
    Outcome tcpOutcome;
    const double tcpSeconds = Timed([&] {
        StreamLoaderLink link(stream, clock);
        tcpOutcome = UpdateMain(link, clock, mainImage, {}, running);
    });
    std::printf("%-34s %8.3f s   pauses %7.3f s   beyond them %.3f s   (%s)\n",
                "main controller, TCP, 128 KiB", tcpSeconds, 5.2, tcpSeconds - 5.2,
                FaultName(tcpOutcome.GetFault()));
    MapComPort(kComPort, "");
    return 0;
}

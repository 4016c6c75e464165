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

#include "firmware/burn_main_ethernet.h"
#include "firmware/burn_main_serial.h"
#include "firmware/burn_net_serial.h"
#include "firmware/firmware_ids.h"
#include "firmware/hold_break.h"
#include "firmware/loader_packets.h"
#include "firmware/net_frames.h"
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

// A dialog that shows nothing but keeps the main and net status texts.
class BenchView : public FirmwareView {
  public:
    std::string status;
    void SetText(int control, const char* text) override {
        if (control == kMainStatusText || control == kNetStatusText) status = text;
    }
    void SetProgressRange(std::uint16_t) override {}
    void SetProgressPos(int) override {}
    void EnableControl(int, bool) override {}
    void SetCursor(Cursor) override {}
    void ShowMessage(const char* text) override { status = text; }
};

std::string ImageFile(const char* name, std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    const std::string path = std::string("/tmp/vantrel-bench-") + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
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

void Report(const char* what, const BenchView& view, double seconds, double floor) {
    std::printf("%-34s %8.3f s   floor %8.3f s   ratio %.4f   (%s)\n", what, seconds, floor,
                seconds / floor, view.status.c_str());
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

    FirmwareRecord record;
    record.comPort = kComPort;
    record.mainImage.path = ImageFile("main.bin", 128 * 1024, 1);
    BenchView main;
    const double mainSeconds = Timed([&] { BurnMainSerial(record, port, clock, main); });
    Report("main controller, COM, 128 KiB", main, mainSeconds, MainFloor(128 * 1024));

    record.netImage.path = ImageFile("net.bin", 120 * 1024, 2);
    BenchView net;
    Break(record, port, net);
    console.PowerCycle();
    record.netStop = 0;
    const double netSeconds = Timed([&] { BurnNetSerial(record, port, clock, net); });
    Report("net controller, COM, 120 KiB", net, netSeconds, NetFloor(record.netImage.buffer));

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
    record.stream = &stream;
    record.linkDown = 0;
    BenchView ethernet;
    const double tcpSeconds = Timed([&] { BurnMainEthernet(record, clock, ethernet); });
    std::printf("%-34s %8.3f s   pauses %7.3f s   beyond them %.3f s   (%s)\n",
                "main controller, TCP, 128 KiB", tcpSeconds, 5.2, tcpSeconds - 5.2,
                ethernet.status.c_str());
    MapComPort(kComPort, "");
    return 0;
}

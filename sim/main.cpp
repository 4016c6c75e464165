// vantrel-sim: the simulated unit. Serves the TCP console until SIGINT or SIGTERM.
//   vantrel-sim --address 127.0.0.2 [--port 23] [--log FILE] [--ip A.B.C.D]
//               [--default-ip A.B.C.D] [--fault silent-after-login|silent-after=N|
//               close-after=N|refuse-login|close-at-password|short|garbage|delay=N|
//               stuck-levels]
//               [--pty LINK]
//               [--serial-fault silent|wrong-header|short|ignores-network-writes]
//               [--levels VOLUME,BRIGHTNESS,CONTRAST,SATURATION] [--control SOCKET]
//               [--pace line] [--line-log FILE]
// --pty also serves the serial control frames on a new pty, whose path it prints and links
// from LINK. --control serves the control interface (sim/control_channel.h) on a Unix socket,
// so a test can change the unit as if on its front panel, power-cycle it and read the flash
// its bootloaders wrote (sim/firmware_commands.h). Both fault options take loader-nak=N and
// loader-silent=N for the bootloaders behind them. --pace line holds each serial reply until
// its bytes would have crossed the line. --line-log appends each console command line, with
// when it came and the address and port it came from (sim/line_log.h), so that a test can tell
// which of several gateways sent it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/control_channel.h"
#include "sim/dotted_address.h"
#include "sim/faults.h"
#include "sim/firmware_commands.h"
#include "sim/line_log.h"
#include "sim/serial_console.h"
#include "sim/tcp_console.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace {

using namespace vantrel::sim;

struct Options {
    std::string address = "127.0.0.1";
    int port = 23;
    std::string logPath;
    std::string ip;         // empty: the listening address
    std::string defaultIp;  // empty: the factory default 192.168.1.220
    Faults faults;
    std::string ptyLink;  // empty: no serial side
    SerialFaults serialFaults;
    std::string levels;       // empty: the unit's power-up levels
    std::string controlPath;  // empty: no control interface
    bool paced = false;
    std::string lineLogPath;  // empty: no line log
};

int Usage(const char* message) {
    std::fprintf(stderr,
                 "vantrel-sim: %s\n"
                 "usage: vantrel-sim [--address A.B.C.D] [--port N] [--log FILE] [--ip A.B.C.D]\n"
                 "                   [--default-ip A.B.C.D] [--fault silent-after-login|"
                 "silent-after=N|close-after=N|\n"
                 "                   refuse-login|close-at-password|short|garbage|delay=N|"
                 "stuck-levels]...\n"
                 "                   [--pty LINK]\n"
                 "                   [--serial-fault silent|wrong-header|short|"
                 "ignores-network-writes]...\n"
                 "                   [--levels VOLUME,BRIGHTNESS,CONTRAST,SATURATION]\n"
                 "                   [--control SOCKET] [--pace line] [--line-log FILE]\n"
                 "       both fault options also take loader-nak=N and loader-silent=N\n",
                 message);
    return 2;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        if (name == "--address") {
            options.address = value;
        } else if (name == "--port") {
            options.port = std::atoi(value.c_str());
            if (options.port < 0 || options.port > 65535) return false;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--ip") {
            options.ip = value;
        } else if (name == "--default-ip") {
            options.defaultIp = value;
        } else if (name == "--fault") {
            if (!ParseFault(value, options.faults)) return false;
        } else if (name == "--pty") {
            options.ptyLink = value;
        } else if (name == "--serial-fault") {
            if (!ParseSerialFault(value, options.serialFaults)) return false;
        } else if (name == "--levels") {
            options.levels = value;
        } else if (name == "--control") {
            options.controlPath = value;
        } else if (name == "--line-log") {
            options.lineLogPath = value;
        } else if (name == "--pace" && value == "line") {
            options.paced = true;
        } else {
            return false;
        }
    }
    return true;
}

// Four comma-separated levels, so tests can start the unit at levels they know.
bool SetLevels(const std::string& text, Unit& unit) {
    int values[4];
    char end = 0;
    if (std::sscanf(text.c_str(), "%d,%d,%d,%d%c", &values[0], &values[1], &values[2], &values[3],
                    &end) != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) unit.SetLevel(static_cast<Level>(i), values[i]);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return Usage("bad arguments");
    uint32_t listening = 0;
    uint32_t ip = 0;
    uint32_t defaultIp = Unit::kFactoryDefaultIp;
    if (!ParseDotted(options.address, listening)) return Usage("bad --address");
    if (!ParseDotted(options.ip.empty() ? options.address : options.ip, ip)) {
        return Usage("bad --ip");
    }
    if (!options.defaultIp.empty() && !ParseDotted(options.defaultIp, defaultIp)) {
        return Usage("bad --default-ip");
    }

    // Signals are taken by sigwait below, so every thread started from here blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TrafficLog log;
    if (!options.logPath.empty() && !log.OpenFile(options.logPath)) {
        std::fprintf(stderr, "vantrel-sim: cannot write %s\n", options.logPath.c_str());
        return 1;
    }
    LineLog lineLog;
    if (!options.lineLogPath.empty() && !lineLog.Open(options.lineLogPath)) {
        std::fprintf(stderr, "vantrel-sim: cannot write %s\n", options.lineLogPath.c_str());
        return 1;
    }
    Unit unit(ip, defaultIp);
    if (!options.levels.empty() && !SetLevels(options.levels, unit)) return Usage("bad --levels");
    TcpConsole console(unit, log, options.faults);
    if (!options.lineLogPath.empty()) console.SetLineLog(lineLog);
    if (!console.Start(options.address, static_cast<uint16_t>(options.port))) {
        std::fprintf(stderr, "vantrel-sim: %s\n", console.Error().c_str());
        return 1;
    }
    std::printf("vantrel-sim: listening on %s:%u\n", options.address.c_str(), console.Port());
    SerialConsole serial(unit, log, options.serialFaults);
    serial.SetPacing(options.paced);
    if (!options.ptyLink.empty()) {
        struct stat old {};
        // A link left by an earlier run is replaced; any other file is not touched.
        if (lstat(options.ptyLink.c_str(), &old) == 0 && S_ISLNK(old.st_mode)) {
            unlink(options.ptyLink.c_str());
        }
        if (!serial.Start() || symlink(serial.DevicePath().c_str(), options.ptyLink.c_str()) != 0) {
            std::fprintf(stderr, "vantrel-sim: no serial side: %s\n",
                         serial.Error().empty() ? "cannot link the pty" : serial.Error().c_str());
            return 1;
        }
        std::printf("vantrel-sim: serial on %s\n", serial.DevicePath().c_str());
    }
    ControlChannel control(unit);
    AddFirmwareCommands(control, unit, serial);
    if (!options.controlPath.empty()) {
        if (!control.Start(options.controlPath)) {
            std::fprintf(stderr, "vantrel-sim: %s\n", control.Error().c_str());
            return 1;
        }
        std::printf("vantrel-sim: control on %s\n", options.controlPath.c_str());
    }
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    control.Stop();
    console.Stop();
    serial.Stop();
    if (!options.ptyLink.empty()) unlink(options.ptyLink.c_str());
    return 0;
}

// vantrelctl: the Vantrel unit from the command line, for one unit or a rack of them. Every
// byte it sends is the panel's own: it drives the same session, handlers and procedures.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/dotted_address.h"
#include "cli/fleet.h"
#include "cli/ports.h"
#include "cli/progress_board.h"
#include "cli/progress_view.h"
#include "cli/sockets.h"
#include "cli/unit_link.h"
#include "firmware/prepare_image.h"
#include "link/control_table.h"
#include "res/version.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace vantrel::cli {
namespace {

constexpr int kUsage = 2;

struct LevelName {
    const char* name;
    int index;
};
constexpr LevelName kLevels[] = {
    {"volume", 0}, {"lcd-brightness", 1}, {"lcd-contrast", 2}, {"lcd-saturation", 3}};

nlohmann::json StatusJson(const std::string& unit, const UnitStatus& s) {
    nlohmann::json json{{"unit", unit},
                        {"soloLeft", s.soloLeft},
                        {"soloRight", s.soloRight},
                        {"mixDown", s.mixDown},
                        {"meterMode", s.meterMode},
                        {"input", s.input},
                        {"levels", {s.levels[0], s.levels[1], s.levels[2], s.levels[3]}},
                        {"ip", Dotted(s.ip)},
                        {"mask", Dotted(s.mask)},
                        {"gateway", Dotted(s.gateway)},
                        {"dhcp", s.ipMode == 2 ? 1 : 0},
                        {"mac", s.mac}};
    if (s.mainVersion) json["mainVersion"] = {s.mainVersion->major, s.mainVersion->minor};
    if (s.netVersion) json["netVersion"] = {s.netVersion->major, s.netVersion->minor};
    return json;
}

std::string StatusText(const std::string& unit, const UnitStatus& s) {
    const char* inputs[] = {"HDMI", "SDI", "Balanced", "Unbalanced"};
    auto onOff = [](uint8_t lamp) { return lamp ? "on" : "off"; };
    char text[1024];
    std::snprintf(text, sizeof text,
                  "%s\n  solo left    %s\n  solo right   %s\n  mix-down     %s\n"
                  "  meter mode   %s\n  input        %s\n  volume       %d\n"
                  "  brightness   %d\n  contrast     %d\n  saturation   %d\n"
                  "  ip           %s\n  mask         %s\n  gateway      %s\n"
                  "  address mode %s\n  mac          %s\n",
                  unit.c_str(), onOff(s.soloLeft), onOff(s.soloRight), onOff(s.mixDown),
                  s.meterMode ? "DPPM" : "VU", s.input < 4 ? inputs[s.input] : "none", s.levels[0],
                  s.levels[1], s.levels[2], s.levels[3], Dotted(s.ip).c_str(),
                  Dotted(s.mask).c_str(), Dotted(s.gateway).c_str(),
                  s.ipMode == 1   ? "static"
                  : s.ipMode == 2 ? "DHCP"
                                  : "unknown",
                  s.mac.c_str());
    std::string out = text;
    if (s.mainVersion && s.netVersion) {
        std::snprintf(text, sizeof text, "  main fw      V%d.%02d\n  net fw       V%d.%02d\n",
                      s.mainVersion->major, s.mainVersion->minor, s.netVersion->major,
                      s.netVersion->minor);
        out += text;
    }
    return out;
}

// Opens the unit's link, runs `body` on it and closes it again.
Outcome WithLink(const std::string& unit, bool serial,
                 const std::function<Outcome(UnitLink&)>& body) {
    std::unique_ptr<UnitLink> link = serial ? MakeSerialLink(unit) : MakeConsoleLink(unit);
    Outcome outcome = link->Open();
    if (outcome.ok) outcome = body(*link);
    link->Close();
    return outcome;
}

// Steps a level towards `target` until the nearest value the unit can reach.
Outcome BringLevel(UnitLink& link, int index, int target) {
    if (link.CanSetLevel(index)) return link.SetLevel(index, static_cast<uint8_t>(target));
    UnitStatus status;
    if (Outcome read = link.ReadStatus(status); !read.ok) return read;
    int32_t level = status.levels[index];
    while (level != target) {
        const bool up = target > level;
        int32_t next = level;
        if (Outcome step = link.StepLevel(index, up, next); !step.ok) return step;
        // At an end, or past the target by more than it was short: stop at the nearest.
        if (next == level) break;
        if (up ? next > target : next < target) {
            if (std::abs(next - target) > std::abs(level - target)) {
                return link.StepLevel(index, !up, next);
            }
            break;
        }
        level = next;
    }
    return {};
}

}  // namespace

int Main(int argc, char** argv) {
    CLI::App app{"vantrelctl: the Vantrel unit from the command line"};
    app.require_subcommand(1);
    app.set_version_flag("--version", VANTREL_VERSION_TEXT);
    std::vector<std::string> units;
    std::string unitsFile, port;
    int jobs = 8;
    app.add_option("--unit", units, "a unit's IP address (TCP console); may be repeated");
    app.add_option("--units-file", unitsFile, "a file of unit addresses, one a line; # comments");
    app.add_option("--port", port, "a serial port: /dev/ttyUSB0, COM3");
    app.add_option("--jobs", jobs, "units worked on at a time")->check(CLI::Range(1, 64));

    auto* portsCmd = app.add_subcommand("ports", "list this machine's serial ports");
    bool json = false;
    int watch = 0;
    auto* statusCmd = app.add_subcommand("status", "lamps, levels, input and network settings");
    statusCmd->add_flag("--json", json, "one JSON object per unit");
    statusCmd->add_option("--watch", watch, "poll every SECONDS")->check(CLI::Range(1, 3600));
    std::string button;
    bool listButtons = false;
    auto* pressCmd = app.add_subcommand("press", "press one front-panel button");
    pressCmd->add_option("name", button, "solo-left, mute, vu-mode, sdi-input, next-8ch, ...");
    pressCmd->add_flag("--list", listButtons, "list the buttons");
    std::string levelName, levelArg;
    int times = 1;
    auto* levelCmd = app.add_subcommand("level", "step a level, or bring it to a value");
    levelCmd->add_option("name", levelName, "volume, lcd-brightness, lcd-contrast, lcd-saturation")
        ->required();
    levelCmd->add_option("action", levelArg, "up, down or a value")->required();
    levelCmd->add_option("--times", times, "steps")->check(CLI::Range(1, 255));
    bool isStatic = false, isDhcp = false, defaultIp = false;
    std::string ip, mask, gateway;
    auto* networkCmd = app.add_subcommand("network", "show or apply the network settings");
    networkCmd->add_flag("--static", isStatic);
    networkCmd->add_flag("--dhcp", isDhcp);
    networkCmd->add_flag("--default-ip", defaultIp);
    networkCmd->add_option("--ip", ip);
    networkCmd->add_option("--mask", mask);
    networkCmd->add_option("--gateway", gateway);
    bool yes = false;
    auto* resetCmd = app.add_subcommand("factory-reset", "reset the unit to its factory settings");
    resetCmd->add_flag("--yes", yes, "really");
    std::string controller, file;
    auto* firmwareCmd = app.add_subcommand("firmware", "update a controller's firmware");
    firmwareCmd
        ->add_option("controller", controller, "main, or net (over --port, after a power cycle)")
        ->required()
        ->check(CLI::IsMember({"main", "net"}));
    firmwareCmd->add_option("file", file, "HEX or raw binary image")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : kUsage;
    }

    if (portsCmd->parsed()) {
        for (const std::string& line : ListSerialPorts()) std::printf("%s\n", line.c_str());
        return 0;
    }
    if (pressCmd->parsed() && listButtons) {
        for (const ControlButton& b : kControlButtons) {
            if (b.code != 0 && b.kind != ControlKind::Dialog) std::printf("%s\n", b.name);
        }
        return 0;
    }

    // Everything below is checked before anything is sent.
    auto usage = [](const std::string& message) {
        std::fprintf(stderr, "vantrelctl: %s\n", message.c_str());
        return kUsage;
    };
    if (!unitsFile.empty()) {
        std::ifstream in(unitsFile);
        if (!in) return usage("cannot read " + unitsFile);
        for (std::string line; std::getline(in, line);) {
            line = line.substr(0, line.find('#'));
            line.erase(0, line.find_first_not_of(" \t\r"));
            line.erase(line.find_last_not_of(" \t\r") + 1);
            if (!line.empty()) units.push_back(line);
        }
    }
    const bool serial = !port.empty();
    if (serial && !units.empty()) return usage("give --unit or --port, not both");
    if (serial) units = {port};
    if (units.empty()) return usage("no unit: give --unit A.B.C.D or --port DEVICE");
    for (const std::string& unit : units) {
        uint32_t address = 0;
        if (!serial && !ParseDotted(unit, address)) return usage("not an IPv4 address: " + unit);
    }

    std::function<Outcome(const std::string&)> task;
    std::mutex outputMutex;
    bool longCommand = false;
    if (statusCmd->parsed()) {
        task = [&](const std::string& unit) {
            return WithLink(unit, serial, [&](UnitLink& link) {
                for (;;) {
                    UnitStatus status;
                    Outcome read = link.ReadStatus(status);
                    if (!read.ok) return read;
                    {
                        std::lock_guard<std::mutex> lock(outputMutex);
                        if (json) {
                            std::printf("%s\n", StatusJson(unit, status).dump().c_str());
                        } else {
                            std::printf("%s", StatusText(unit, status).c_str());
                        }
                        std::fflush(stdout);
                    }
                    if (watch == 0) return read;
                    std::this_thread::sleep_for(std::chrono::seconds(watch));
                }
            });
        };
    } else if (pressCmd->parsed()) {
        const ControlButton* b = FindControlButton(button.c_str());
        if (!b || b->code == 0 || b->kind == ControlKind::Dialog) {
            return usage("no such button: " + button + " (vantrelctl press --list)");
        }
        task = [&, b](const std::string& unit) {
            return WithLink(unit, serial, [&](UnitLink& link) { return link.Press(*b); });
        };
    } else if (levelCmd->parsed()) {
        int index = -1;
        for (const LevelName& level : kLevels) {
            if (levelName == level.name) index = level.index;
        }
        if (index < 0) return usage("no such level: " + levelName);
        const bool step = levelArg == "up" || levelArg == "down";
        int value = -1;
        if (!step) {
            char* end = nullptr;
            value = static_cast<int>(std::strtol(levelArg.c_str(), &end, 10));
            if (levelArg.empty() || *end != '\0' || value < 0 || value > (index == 0 ? 40 : 255)) {
                return usage("not a level: " + levelArg);
            }
        }
        task = [&, index, step, value](const std::string& unit) {
            return WithLink(unit, serial, [&](UnitLink& link) {
                if (!step) return BringLevel(link, index, value);
                int32_t level = 0;
                for (int i = 0; i < times; ++i) {
                    if (Outcome o = link.StepLevel(index, levelArg == "up", level); !o.ok) return o;
                }
                return Outcome{};
            });
        };
    } else if (networkCmd->parsed()) {
        if (isStatic + isDhcp + defaultIp > 1)
            return usage("one of --static, --dhcp, --default-ip");
        NetworkSettings settings;
        settings.dhcp = isDhcp;
        if (isStatic && (!ParseDotted(ip, settings.ip) || !ParseDotted(mask, settings.mask) ||
                         !ParseDotted(gateway, settings.gateway))) {
            return usage("--static needs --ip, --mask and --gateway as A.B.C.D");
        }
        task = [&, settings](const std::string& unit) {
            return WithLink(unit, serial, [&](UnitLink& link) {
                if (defaultIp) return link.RestoreDefaultIp();
                if (isStatic || isDhcp) return link.ApplyNetwork(settings);
                UnitStatus status;
                Outcome read = link.ReadStatus(status);
                if (read.ok) {
                    std::lock_guard<std::mutex> lock(outputMutex);
                    std::printf("%s  ip %s  mask %s  gateway %s  %s  mac %s\n", unit.c_str(),
                                Dotted(status.ip).c_str(), Dotted(status.mask).c_str(),
                                Dotted(status.gateway).c_str(),
                                status.ipMode == 2 ? "DHCP" : "static", status.mac.c_str());
                }
                return read;
            });
        };
    } else if (resetCmd->parsed()) {
        if (!yes) return usage("factory-reset resets every setting of the unit: add --yes");
        task = [&](const std::string& unit) {
            return WithLink(unit, serial, [&](UnitLink& link) {
                return link.Press(*FindControlButton("factory-reset"));
            });
        };
    } else if (firmwareCmd->parsed()) {
        // The image is checked once, here, so that a file that is not one reaches no unit.
        const bool net = controller == "net";
        if (net && !serial) return usage("the net controller is updated over --port");
        firmware::ImageSlot slot;
        slot.path = file;
        ProgressView check(nullptr);
        const firmware::PrepareResult prepared = firmware::PrepareImage(
            slot, net ? firmware::Controller::Net : firmware::Controller::Main, check);
        if (prepared != firmware::PrepareResult::Ready) {
            return usage(file + ": " + firmware::PrepareFailureText(prepared));
        }
        longCommand = true;
        auto board = std::make_shared<ProgressBoard>(units, isatty(fileno(stdout)) != 0, stdout);
        const long length = slot.length;
        task = [&, board, length, net](const std::string& unit) {
            const size_t index = std::find(units.begin(), units.end(), unit) - units.begin();
            const ProgressReport progress = [&](int done, int total) {
                if (total > 0) board->Update(index, length * done / total, length);
            };
            return WithLink(unit, serial, [&](UnitLink& link) {
                if (!net) return link.UpdateMainFirmware(file, progress);
                return link.UpdateNetFirmware(file, progress, [](const std::string& text) {
                    std::printf("%s\nPower-cycle the unit now, then press Enter.\n", text.c_str());
                    std::fflush(stdout);
                    std::string line;
                    std::getline(std::cin, line);
                });
            });
        };
    }

    SocketsScope sockets;
    const std::vector<UnitResult> results = RunFleet(units, jobs, task);
    if (units.size() > 1 || longCommand) std::printf("%s", SummaryTable(results).c_str());
    int exitCode = 0;
    for (const UnitResult& result : results) {
        if (result.outcome.ok) continue;
        std::fprintf(stderr, "vantrelctl: %s: %s\n", result.unit.c_str(),
                     result.outcome.reason.c_str());
        exitCode = 1;
    }
    return exitCode;
}

}  // namespace vantrel::cli

int main(int argc, char** argv) { return vantrel::cli::Main(argc, argv); }

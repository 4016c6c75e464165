// vantrelctl: the Vantrel unit from the command line, for one unit or a rack of them. It works
// through the core's unit interface, and "done" means what the unit reported back confirms it.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>

#include "clients/dotted_address.h"
#include "clients/exchange_log.h"
#include "cli/fleet.h"
#include "clients/level_names.h"
#include "clients/link_factory.h"
#include "firmware/image.h"
#include "firmware/image_info.h"
#include "cli/ports.h"
#include "cli/progress_board.h"
#include "clients/report.h"
#include "cli/snapshot_commands.h"
#include "cli/sockets.h"
#include "cli/unit_choice.h"
#include "clients/targets.h"
#include "groups/snapshot.h"
#include "res/version.h"
#include "unit/buttons.h"
#include "unit_link/unit_checks.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace vantrel::cli {

using namespace clients;  // the tool is mostly the clients' shared pieces

namespace {

constexpr int kUsage = 2;
constexpr int kMostJobs = 256;
constexpr int kDefaultMostJobs = 64;
constexpr const char* kNetRestart = "; power-cycle the unit to start the new net firmware";

// Buttons that `press` takes: not Factory Reset, which asks for --yes under its own command.
bool Pressable(const Button& button) { return button.effect != ButtonEffect::FactoryReset; }

// A failure of an exchange that is itself the command: a read, an update.
Verdict Failed(const char* what, const Failure& failure) {
    return {false, std::string(what) + ": " + FaultNote(failure)};
}

Verdict FromCheck(const Result<Check>& check, const char* levelName = "level") {
    if (!check.Ok()) return {false, FailureNote(check.GetFailure(), check.Value().shortfall)};
    return {true, DoneNote(check.Value(), levelName)};
}

// A number option and what it takes. Checked after parsing rather than by the parser, whose
// message ("Value 0 not in range 1.000000 to ...") is not one a person would write.
struct Bounded {
    const CLI::Option* option;
    double value;
    double lowest;
    double highest = 0;  // 0: no upper bound
};

// "--jobs must be 1 to 256" for the first option given out of its bounds; "" when none is.
std::string OutOfBounds(const std::vector<Bounded>& options) {
    for (const Bounded& b : options) {
        const bool above = b.highest > 0 && b.value > b.highest;
        if (b.option->count() == 0 || (b.value >= b.lowest && !above)) continue;
        char text[96];
        const std::string name = b.option->get_name();
        if (b.highest > 0) {
            std::snprintf(text, sizeof text, "%s must be %g to %g", name.c_str(), b.lowest,
                          b.highest);
        } else {
            std::snprintf(text, sizeof text, "%s must be %g or more", name.c_str(), b.lowest);
        }
        return text;
    }
    return "";
}

// Who takes a snapshot, when --by does not say: the user's login name.
std::string LoginName() {
    for (const char* variable : {"USER", "USERNAME"}) {
        if (const char* name = std::getenv(variable); name && *name) return name;
    }
    return "vantrelctl";
}

}  // namespace

// What a Burn of `file` would send, without a unit; a file the dialog would refuse is refused
// the same way.
int PrintImageInfo(const std::string& file, bool net) {
    const firmware::ImageInfo info = firmware::DescribeImage(
        file, net ? firmware::Controller::kNet : firmware::Controller::kMain);
    if (info.result != Fault::kNone) {
        std::fprintf(stderr, "vantrelctl: %s: %s\n", file.c_str(), FaultName(info.result));
        return kUsage;
    }
    std::printf("file         %s (%u bytes)\n", file.c_str(), info.fileSize);
    std::printf("conversion   %s\n", info.convertedFromHex ? "Intel HEX, converted" : "raw binary");
    std::printf("image        %d bytes\n", info.length);
    if (info.addresses) {
        std::printf("addresses    0x%X to 0x%X\n", info.addresses->lowest, info.addresses->highest);
    }
    std::printf("crc-32       %08X\n", info.crc32);
    if (info.tooLargeForNetFlash) {
        std::printf("warning      larger than the net controller's flash takes\n");
    }
    return 0;
}

int Main(int argc, char** argv) {
    CLI::App app{"vantrelctl: the Vantrel unit from the command line"};
    app.require_subcommand(1);
    app.set_version_flag("--version", VANTREL_VERSION_TEXT);
    std::vector<std::string> units;
    std::string unitsFile, port;
    int jobs = 0;
    double timeout = 5.0;
    app.add_option("--unit", units, "a unit's IP address (TCP console); may be repeated");
    app.add_option("--units-file", unitsFile,
                   "a file of units, one a line: A.B.C.D or a port's path, then name=NAME and "
                   "key=value labels; # comments");
    std::string selectText;
    std::size_t confirm = 0;
    app.add_option("--select", selectText,
                   "the units to act on: all, names or addresses (qc-1,qc-2), or labels "
                   "(site=studio-a,role=qc; role!=spare)");
    auto* confirmOption = app.add_option(
        "--confirm", confirm, "the count of units --select matches, when it is more than 64");
    app.add_option("--port", port, "a serial port: /dev/ttyUSB0, COM3");
    auto* jobsOption = app.add_option("--jobs", jobs,
                                      "units worked on at a time (default: all of them, up to 64)");
    auto* timeoutOption =
        app.add_option("--timeout", timeout, "seconds to wait for a connection (default 5)");

    auto* portsCmd = app.add_subcommand("ports", "list this machine's serial ports");
    bool json = false;
    int watch = 0;
    auto* statusCmd = app.add_subcommand("status", "lamps, levels, input and network settings");
    statusCmd->add_flag("--json", json, "one JSON object per unit");
    auto* watchOption =
        statusCmd->add_option("--watch", watch, "poll every SECONDS, one line a poll");
    std::string buttonName;
    bool listButtons = false;
    auto* pressCmd = app.add_subcommand("press", "press one front-panel button");
    pressCmd->add_option("name", buttonName, "solo-left, mute, vu-mode, sdi-input, next-8ch, ...");
    pressCmd->add_flag("--list", listButtons, "list the buttons");
    std::string levelName, levelArg;
    int times = 1;
    auto* levelCmd = app.add_subcommand("level", "step a level, or bring it to a value");
    levelCmd->add_option("name", levelName, LevelNameList())->required();
    levelCmd->add_option("action", levelArg, "up, down or a value")->required();
    auto* timesOption = levelCmd->add_option("--times", times, "steps");
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
        ->add_option("controller", controller,
                     "main, net (over --port, after a power cycle), or info: what a Burn would "
                     "send, without a unit")
        ->required()
        ->check(CLI::IsMember({"main", "net", "info"}));
    firmwareCmd->add_option("file", file, "HEX or raw binary image")->required();
    bool infoNet = false;
    firmwareCmd->add_flag("--net", infoNet, "info: the image as the net controller takes it");
    int canary = 0;
    int maxFailures = 0;
    bool dryRun = false;
    auto* canaryOption = firmwareCmd->add_option(
        "--canary", canary, "update N units first, the rest only if all N are done");
    auto* maxFailuresOption =
        firmwareCmd->add_option("--max-failures", maxFailures, "start no unit after K failures");
    firmwareCmd->add_flag("--dry-run", dryRun,
                          "check the image and reach every unit; enter no loader");
    auto* snapshotCmd =
        app.add_subcommand("snapshot", "capture the units' settings, diff them or set them back");
    snapshotCmd->require_subcommand(1);
    std::string snapshotName, snapshotFile, takenBy = LoginName();
    bool withNetwork = false;
    auto* captureCmd = snapshotCmd->add_subcommand("capture", "read the settings into a file");
    captureCmd->add_option("--name", snapshotName, "the snapshot's name")->required();
    captureCmd->add_option("--out", snapshotFile, "the snapshot file to write")->required();
    captureCmd->add_option("--by", takenBy, "who takes it (default: the login name)");
    captureCmd->add_flag("--network", withNetwork, "the network settings too");
    auto* diffCmd = snapshotCmd->add_subcommand("diff", "the settings that differ from a file");
    diffCmd->add_option("file", snapshotFile, "a snapshot file")->required();
    auto* applyCmd =
        snapshotCmd->add_subcommand("apply", "send the settings that differ from a file");
    applyCmd->add_option("file", snapshotFile, "a snapshot file")->required();
    applyCmd->add_flag("--dry-run", dryRun, "show what would be sent, and why not; send nothing");
    applyCmd->add_flag("--network", withNetwork, "the network settings too, last");
    std::string logFile;
    app.add_option("--log", logFile, "append one JSON line per exchange to FILE, for support");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : kUsage;
    }

    if (portsCmd->parsed()) {
        for (const std::string& line : ListSerialPorts()) std::printf("%s\n", line.c_str());
        return 0;
    }
    if (firmwareCmd->parsed() && controller == "info") return PrintImageInfo(file, infoNet);
    if (pressCmd->parsed() && listButtons) {
        for (const Button& b : kButtons) {
            if (Pressable(b)) std::printf("%s\n", b.name);
        }
        return 0;
    }

    // Everything below is checked before anything is sent.
    auto usage = [](const std::string& message) {
        std::fprintf(stderr, "vantrelctl: %s\n", message.c_str());
        return kUsage;
    };
    // A stage of 0 would leave it out, which leaving the option out already says.
    const std::string outOfBounds = OutOfBounds({{jobsOption, double(jobs), 1, kMostJobs},
                                                 {timeoutOption, timeout, 0.1, 600},
                                                 {watchOption, double(watch), 1, 3600},
                                                 {timesOption, double(times), 1, 255},
                                                 {canaryOption, double(canary), 1},
                                                 {maxFailuresOption, double(maxFailures), 1}});
    if (!outOfBounds.empty()) return usage(outOfBounds);
    std::optional<groups::Snapshot> snapshot;
    if (diffCmd->parsed() || applyCmd->parsed()) {
        auto read = groups::ReadSnapshotFile(snapshotFile);
        if (!read.Ok()) return usage(snapshotFile + ": " + groups::ErrorText(read.GetError()));
        snapshot = std::move(read.Value());
    }
    const bool serial = !port.empty();
    if (serial && (!units.empty() || !unitsFile.empty())) {
        return usage("give --unit or --port, not both");
    }
    std::vector<groups::UnitEntry> chosen{{port, "", {}}};
    if (!serial) {
        UnitChoice choice{units, unitsFile, selectText, std::nullopt};
        if (confirmOption->count() > 0) choice.confirm = confirm;
        auto found = ChooseUnits(choice, snapshot ? &*snapshot : nullptr);
        if (!found.Ok()) return usage(found.GetError());
        chosen = std::move(found.Value());
    }
    std::vector<std::string> consoles, ports;
    for (const groups::UnitEntry& entry : chosen) {
        (serial || entry.Serial() ? ports : consoles).push_back(entry.unit);
    }
    std::vector<Target> targets;
    std::string targetError;
    if (!MakeTargets(consoles, ports, targets, targetError)) return usage(targetError);
    units.clear();
    for (const Target& target : targets) units.push_back(target.name);
    LinkOptions options;
    options.connectLimit = Clock::Duration(static_cast<long long>(timeout * 1000));
    std::unique_ptr<ExchangeLog> log;
    if (!logFile.empty()) {
        log = ExchangeLog::Open(logFile);
        if (!log) return usage("cannot write " + logFile);
        options.log = log.get();
    }
    std::mutex outputMutex;
    auto say = [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(outputMutex);
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    };

    // The command for one open link.
    std::function<Verdict(UnitLink&, std::size_t)> command;
    bool longCommand = false;
    // Each unit's capture, filled by its own job only.
    std::vector<std::optional<groups::UnitSettings>> captured(targets.size());
    auto sayFor = [&](std::size_t index) {
        return [&, index](const std::string& line) { say(units[index] + ": " + line + "\n"); };
    };
    if (captureCmd->parsed()) {
        command = [&](UnitLink& link, std::size_t index) {
            return CaptureUnit(link, withNetwork, captured[index]);
        };
    } else if (diffCmd->parsed()) {
        command = [&](UnitLink& link, std::size_t index) {
            return DiffUnit(link, snapshot->Find(units[index]), sayFor(index));
        };
    } else if (applyCmd->parsed()) {
        command = [&](UnitLink& link, std::size_t index) {
            return ApplyUnit(link, snapshot->Find(units[index]), withNetwork, dryRun,
                             sayFor(index));
        };
    } else if (statusCmd->parsed()) {
        command = [&](UnitLink& link, std::size_t index) -> Verdict {
            const std::string& unit = targets[index].name;
            for (;;) {
                Result<UnitReading> reading = ReadUnit(link);
                const WallTime readAt = std::chrono::system_clock::now();
                if (!reading.Ok()) return Failed("status read", reading.GetFailure());
                if (json) {
                    say(StatusJson(unit, reading.Value(), readAt).dump() + "\n");
                } else if (watch > 0) {
                    say(StatusLine(unit, reading.Value(), readAt) + "\n");
                } else {
                    say(StatusText(unit, reading.Value(), readAt));
                }
                if (watch == 0) return {true, ""};
                SystemClock::Instance().Sleep(std::chrono::seconds(watch));
            }
        };
        // Every unit named is watched, whatever --jobs says: a watch never ends by itself.
        if (watch > 0) jobs = static_cast<int>(targets.size());
    } else if (pressCmd->parsed()) {
        const Button* button = FindButton(buttonName.c_str());
        if (!button || !Pressable(*button)) {
            return usage("no such button: " + buttonName + " (vantrelctl press --list)");
        }
        command = [button](UnitLink& link, std::size_t) {
            return FromCheck(PressButton(link, *button));
        };
    } else if (levelCmd->parsed()) {
        const Level* found = FindLevel(levelName);
        if (!found) return usage("no such level: " + levelName);
        const Level level = *found;
        const bool step = levelArg == "up" || levelArg == "down";
        std::int32_t value = 0;
        if (!step && !ParseLevelValue(levelArg, RangeOf(level).highest, value)) {
            return usage("not a level: " + levelArg);
        }
        const StepDirection direction = levelArg == "up" ? StepDirection::Up : StepDirection::Down;
        command = [=](UnitLink& link, std::size_t) {
            if (!step) return FromCheck(BringLevel(link, level, value), NameOf(level));
            return FromCheck(StepLevel(link, level, direction, times), NameOf(level));
        };
    } else if (networkCmd->parsed()) {
        if (isStatic + isDhcp + defaultIp > 1) {
            return usage("one of --static, --dhcp, --default-ip");
        }
        Addresses addresses;
        if (isStatic && (!ParseDotted(ip, addresses.ip) || !ParseDotted(mask, addresses.mask) ||
                         !ParseDotted(gateway, addresses.gateway))) {
            return usage("--static needs --ip, --mask and --gateway as A.B.C.D");
        }
        if (!isStatic && !(ip.empty() && mask.empty() && gateway.empty())) {
            return usage("--ip, --mask and --gateway go with --static");
        }
        command = [&, addresses](UnitLink& link, std::size_t index) -> Verdict {
            if (defaultIp) return FromCheck(RestoreDefaultIp(link));
            if (isStatic) return FromCheck(ApplyNetwork(link, AddressMode::Static, addresses));
            if (isDhcp) return FromCheck(ApplyNetwork(link, AddressMode::Dhcp, std::nullopt));
            Result<NetworkSettings> read = link.ReadNetwork();
            if (!read.Ok()) return Failed("network read", read.GetFailure());
            say(NetworkLine(targets[index].name, read.Value()) + "\n");
            return {true, ""};
        };
    } else if (resetCmd->parsed()) {
        if (!yes) return usage("factory-reset resets every setting of the unit: add --yes");
        command = [](UnitLink& link, std::size_t) {
            return FromCheck(PressButton(link, *FindButton("factory-reset")));
        };
    } else if (firmwareCmd->parsed()) {
        // The image is checked once, here, so that a file that is not one reaches no unit.
        const bool net = controller == "net";
        if (net && !serial) return usage("the net controller is updated over --port");
        const firmware::Controller which =
            net ? firmware::Controller::kNet : firmware::Controller::kMain;
        const Result<firmware::Image> built = firmware::BuildImage(file, which);
        if (!built.Ok()) return usage(file + ": " + FaultName(built.GetFault()));
        if (const Outcome fits = firmware::CheckFitsFlash(built.Value(), which); !fits.Ok()) {
            return usage(file + ": " + FaultName(fits.GetFault()));
        }
        auto image = std::make_shared<const firmware::Image>(built.Value());
        longCommand = true;
        const char* target = net ? "the net controller" : "the main controller";
        const std::string plan =
            "would send " + std::to_string(image->bytes.size()) + " bytes to " + target;
        if (dryRun) {
            command = [plan](UnitLink& link, std::size_t) -> Verdict {
                // The console's session was confirmed as it opened, as a real run's is; a
                // serial port is opened and answers a version read.
                if (link.ReadsVersions()) {
                    const Result<FirmwareVersions> versions = link.ReadVersions();
                    if (!versions.Ok()) return Failed("version read", versions.GetFailure());
                }
                return {true, "reached; " + plan};
            };
        } else {
            auto board =
                std::make_shared<ProgressBoard>(units, isatty(fileno(stdout)) != 0, stdout);
            command = [&, board, image, net](UnitLink& link, std::size_t index) -> Verdict {
                const firmware::ProgressSink progress = [&](const firmware::Progress& p) {
                    if (p.phase != firmware::Phase::kEntering) {
                        board->Update(index, p.done, p.total);
                    }
                };
                // Over a serial port the versions are read before and after, for the report.
                FirmwareVersions before;
                if (link.ReadsVersions()) before = link.ReadVersions().Value();
                Outcome updated;
                if (!net) {
                    updated = link.UpdateMainFirmware(*image, progress);
                } else if (updated = link.HoldBreak(); updated.Ok()) {
                    say("The line is held in break: power-cycle the unit now, then press "
                        "Enter.\n");
                    std::string line;
                    std::getline(std::cin, line);
                    updated = link.UpdateNetFirmware(*image, progress);
                }
                if (!updated.Ok()) return Failed("update", updated.GetFailure());
                if (!link.ReadsVersions()) return {true, ""};
                // The net controller stays in its loader until the next power cycle: nothing
                // is sent to it meanwhile.
                if (net) return {true, VersionsNote(before, {}) + kNetRestart};
                return {true, VersionsNote(before, link.ReadVersions().Value())};
            };
        }
    }

    if (jobs == 0) jobs = std::min<int>(static_cast<int>(targets.size()), kDefaultMostJobs);
    Stages stages;  // the options are 1 or more when given (checked above), 0 when not
    stages.canary = static_cast<std::size_t>(canary);
    if (maxFailures > 0) stages.maxFailures = static_cast<std::size_t>(maxFailures);
    SocketsScope sockets;
    const std::vector<UnitResult> results = RunFleet(
        units, jobs,
        [&](std::size_t index) -> Verdict {
            std::unique_ptr<UnitLink> link = MakeLink(targets[index], options);
            Verdict verdict;
            if (Outcome open = link->Open(); !open.Ok()) {
                verdict = Failed("no link", open.GetFailure());
            } else {
                verdict = command(*link, index);
            }
            link->Close();
            if (verdict.done && !verdict.note.empty()) {
                say(targets[index].name + ": " + verdict.note + "\n");
            }
            return verdict;
        },
        stages);
    if (units.size() > 1 || longCommand) {
        std::printf("%s", SummaryTable(results, dryRun ? "ready" : "done").c_str());
    }
    int exitCode = 0;
    if (captureCmd->parsed()) {
        groups::Snapshot taken{
            snapshotName, TimeText(std::chrono::system_clock::now()), takenBy, {}};
        for (std::size_t i = 0; i < units.size(); ++i) {
            const auto entry =
                std::find_if(chosen.begin(), chosen.end(),
                             [&](const groups::UnitEntry& e) { return e.unit == units[i]; });
            if (captured[i]) taken.units.push_back({units[i], entry->name, *captured[i]});
        }
        groups::SystemFiles files;
        if (const groups::WriteStep step = groups::WriteSnapshotFile(snapshotFile, taken, files);
            step != groups::WriteStep::kNone) {
            std::fprintf(stderr, "vantrelctl: %s: %s\n", snapshotFile.c_str(),
                         groups::WriteStepText(step));
            exitCode = 1;
        }
    }
    for (const UnitResult& result : results) {
        if (result.verdict.done) continue;
        std::fprintf(stderr, "vantrelctl: %s: %s\n", result.unit.c_str(),
                     result.verdict.note.c_str());
        exitCode = 1;
    }
    return exitCode;
}

}  // namespace vantrel::cli

int main(int argc, char** argv) { return vantrel::cli::Main(argc, argv); }

#include <glob.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "cli/ports.h"

namespace vantrel::cli {

namespace {

namespace fs = std::filesystem;

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A USB adapter's identity, from the USB device two levels above the tty's interface.
std::string UsbDescription(const std::string& sysRoot, const std::string& name) {
    const std::string device = sysRoot + "/class/tty/" + name + "/device/../";
    const std::string vendor = ReadLine(device + "idVendor");
    if (vendor.empty()) return "";
    std::string text = "  usb " + vendor + ":" + ReadLine(device + "idProduct");
    const std::string maker = ReadLine(device + "manufacturer");
    const std::string product = ReadLine(device + "product");
    if (!maker.empty() || !product.empty()) text += "  " + maker + " " + product;
    return text;
}

// The latency timer of a tty's USB serial driver, in ms: beside the port's device (ftdi_sio)
// or on its parent. Nothing for a port that has none.
struct Latency {
    int ms;
    std::string path;
};
std::optional<Latency> LatencyOf(const std::string& sysRoot, const std::string& name) {
    const std::string device = sysRoot + "/class/tty/" + name + "/device/";
    for (const std::string& path : {device + "latency_timer", device + "../latency_timer"}) {
        const std::string text = ReadLine(path);
        char* end = nullptr;
        const long ms = std::strtol(text.c_str(), &end, 10);
        if (!text.empty() && end != text.c_str() && ms >= 0 && ms < 1000) {
            return Latency{static_cast<int>(ms), path};
        }
    }
    return std::nullopt;
}

std::optional<std::string> LatencyText(const std::string& sysRoot, const std::string& name,
                                       const std::string& shown) {
    const std::optional<Latency> latency = LatencyOf(sysRoot, name);
    if (!latency || latency->ms <= 1) return std::nullopt;
    return shown + ": the adapter's latency_timer is " + std::to_string(latency->ms) +
           " ms, so each reply comes up to that much late; set it to 1 (as root: echo 1 > " +
           latency->path + ")";
}

// The /dev/serial/by-id names of each tty, by the tty's name. The links point at the device
// node ("../../ttyUSB0"); only the last part of the target is needed.
std::map<std::string, std::vector<std::string>> StableNames(const std::string& devRoot) {
    std::map<std::string, std::vector<std::string>> names;
    std::error_code error;
    fs::directory_iterator it(devRoot + "/serial/by-id", error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path target = fs::read_symlink(it->path(), error);
        if (error) {
            error.clear();
            continue;
        }
        names[target.filename().string()].push_back(it->path().string());
    }
    for (auto& entry : names) std::sort(entry.second.begin(), entry.second.end());
    return names;
}

}  // namespace

SerialPortListing ListSerialPortsUnder(const std::string& devRoot, const std::string& sysRoot) {
    SerialPortListing listing;
    const auto stable = StableNames(devRoot);
    for (const char* pattern : {"/ttyUSB*", "/ttyACM*", "/ttyS*"}) {
        glob_t found{};
        if (glob((devRoot + pattern).c_str(), 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i) {
                const std::string path = found.gl_pathv[i];
                const std::string name = fs::path(path).filename().string();
                std::string line = path + UsbDescription(sysRoot, name);
                if (auto it = stable.find(name); it != stable.end()) {
                    for (const std::string& link : it->second) line += "  " + link;
                }
                listing.lines.push_back(line);
                if (auto warning = LatencyText(sysRoot, name, path)) {
                    listing.warnings.push_back(*warning);
                }
            }
        }
        globfree(&found);
    }
    return listing;
}

std::vector<std::string> ListSerialPorts() {
    SerialPortListing listing = ListSerialPortsUnder("/dev", "/sys");
    for (const std::string& warning : listing.warnings) {
        listing.lines.push_back("warning: " + warning);
    }
    return listing.lines;
}

std::optional<std::string> LatencyWarning(const std::string& device, const std::string& sysRoot) {
    std::error_code error;
    // A by-id name is a link to the tty; its own name says nothing of the driver.
    const fs::path real = fs::canonical(device, error);
    const std::string name = (error ? fs::path(device) : real).filename().string();
    return LatencyText(sysRoot, name, device);
}

}  // namespace vantrel::cli

#include <glob.h>

#include <fstream>

#include "cli/ports.h"

namespace vantrel::cli {

namespace {

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A USB adapter's identity, from the USB device two levels above the tty's interface.
std::string UsbDescription(const std::string& name) {
    const std::string device = "/sys/class/tty/" + name + "/device/../";
    const std::string vendor = ReadLine(device + "idVendor");
    if (vendor.empty()) return "";
    std::string text = "  usb " + vendor + ":" + ReadLine(device + "idProduct");
    const std::string maker = ReadLine(device + "manufacturer");
    const std::string product = ReadLine(device + "product");
    if (!maker.empty() || !product.empty()) text += "  " + maker + " " + product;
    return text;
}

}  // namespace

std::vector<std::string> ListSerialPorts() {
    std::vector<std::string> ports;
    for (const char* pattern : {"/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"}) {
        glob_t found{};
        if (glob(pattern, 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i) {
                const std::string path = found.gl_pathv[i];
                ports.push_back(path + UsbDescription(path.substr(5)));
            }
        }
        globfree(&found);
    }
    return ports;
}

}  // namespace vantrel::cli

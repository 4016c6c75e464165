#include "sim/firmware_commands.h"

#include <cstdio>
#include <string>
#include <vector>

namespace vantrel::sim {

void AddFirmwareCommands(ControlChannel& control, Unit& unit, SerialConsole& serial) {
    control.AddCommand("power-cycle", [&serial](const std::string& arguments) -> std::string {
        if (!arguments.empty()) return "error: power-cycle takes no arguments";
        serial.PowerCycle();
        return "ok";
    });
    control.AddCommand("flash", [&unit](const std::string& arguments) -> std::string {
        const size_t space = arguments.find(' ');
        const std::string which = arguments.substr(0, space);
        const std::string path = space == std::string::npos ? "" : arguments.substr(space + 1);
        if ((which != "main" && which != "net") || path.empty()) {
            return "error: expected flash main|net FILE";
        }
        const std::vector<uint8_t> flash = which == "main" ? unit.MainFlash() : unit.NetFlash();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return "error: cannot write " + path;
        const bool written = std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
        if (std::fclose(file) != 0 || !written) return "error: cannot write " + path;
        return "{\"bytes\":" + std::to_string(flash.size()) + "}";
    });
}

}  // namespace vantrel::sim

#include "clients/targets.h"

#include <fstream>
#include <functional>
#include <set>

#include "clients/dotted_address.h"

namespace vantrel::clients {

namespace {

// Each unit's line with its number, comments and blanks taken off; false when the file cannot
// be read or `take` refuses a line.
bool ForEachUnit(const std::string& path,
                 const std::function<bool(const std::string&, int)>& take) {
    std::ifstream in(path);
    if (!in) return false;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = line.substr(0, line.find('#'));
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (!line.empty() && !take(line, number)) return false;
    }
    return true;
}

}  // namespace

bool ReadUnitsFile(const std::string& path, std::vector<std::string>& consoles,
                   std::vector<std::string>& ports, std::string& error) {
    error = "cannot read " + path;
    return ForEachUnit(path, [&](const std::string& unit, int number) {
        std::uint32_t address = 0;
        if (unit[0] == '/') {
            ports.push_back(unit);
        } else if (ParseDotted(unit, address)) {
            consoles.push_back(unit);
        } else {
            error = path + " line " + std::to_string(number) +
                    ": neither an IPv4 address nor a serial port's path (/dev/ttyUSB0): " + unit;
            return false;
        }
        return true;
    });
}

bool MakeTargets(const std::vector<std::string>& consoles, const std::vector<std::string>& ports,
                 std::vector<Target>& targets, std::string& error) {
    std::set<std::uint32_t> addresses;
    std::set<std::string> devices;
    for (const std::string& unit : consoles) {
        Target target{unit, false, 0};
        if (!ParseDotted(unit, target.address)) {
            error = "not an IPv4 address: " + unit;
            return false;
        }
        if (!addresses.insert(target.address).second) {
            error = "the unit " + unit + " is named twice";
            return false;
        }
        targets.push_back(target);
    }
    for (const std::string& port : ports) {
        if (!devices.insert(port).second) {
            error = "the unit " + port + " is named twice";
            return false;
        }
        targets.push_back(Target{port, true, 0});
    }
    return true;
}

}  // namespace vantrel::clients

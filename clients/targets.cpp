#include "clients/targets.h"

#include <fstream>
#include <set>

#include "clients/dotted_address.h"

namespace vantrel::cli {

bool ReadUnitsFile(const std::string& path, std::vector<std::string>& units) {
    std::ifstream in(path);
    if (!in) return false;
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (!line.empty()) units.push_back(line);
    }
    return true;
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

}  // namespace vantrel::cli

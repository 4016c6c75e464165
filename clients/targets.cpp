#include "clients/targets.h"

#include <set>

#include "clients/dotted_address.h"

namespace vantrel::clients {

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

#include "cli/ports.h"
#include "serial/com_ports.h"

namespace vantrel::cli {

std::vector<std::string> ListSerialPorts() {
    std::int32_t ports[kMaxComPorts] = {};
    std::int32_t count = 0;
    EnumerateComPorts(ports, &count);
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < count; ++i) names.push_back("COM" + std::to_string(ports[i]));
    return names;
}

}  // namespace vantrel::cli

#include "serial/com_ports.h"

#include <map>
#include <mutex>

namespace vantrel {
namespace {

// Native builds have no COM ports of their own: tests say which device stands for which.
std::mutex g_mapMutex;
std::map<std::uint32_t, std::string> g_comPorts;

}  // namespace

void MapComPort(std::uint32_t port, const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mapMutex);
    if (path.empty()) {
        g_comPorts.erase(port);
    } else {
        g_comPorts[port] = path;
    }
}

std::string ComPortDevice(std::uint32_t port) {
    std::lock_guard<std::mutex> lock(g_mapMutex);
    auto found = g_comPorts.find(port);
    return found == g_comPorts.end() ? std::string() : found->second;
}

void EnumerateComPorts(std::int32_t* ports, std::int32_t* count) {
    std::lock_guard<std::mutex> lock(g_mapMutex);
    *count = 0;
    for (const auto& entry : g_comPorts) {
        if (*count == kMaxComPorts) return;
        ports[(*count)++] = static_cast<std::int32_t>(entry.first);
    }
}

}  // namespace vantrel

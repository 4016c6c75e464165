#include "sim/control_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim/dotted_address.h"

namespace vantrel::sim {

namespace {

struct ButtonName {
    const char* name;
    Button button;
};

const ButtonName kButtonNames[] = {
    {"solo-left", Button::SoloLeft},
    {"solo-right", Button::SoloRight},
    {"pre-2ch", Button::Pre2ch},
    {"next-2ch", Button::Next2ch},
    {"pre-8ch", Button::Pre8ch},
    {"next-8ch", Button::Next8ch},
    {"mix-down", Button::MixDown},
    {"mute", Button::Mute},
    {"vu-mode", Button::VuMode},
    {"dppm-mode", Button::DppmMode},
    {"lkfs-mode", Button::LkfsMode},
    {"hdmi-input", Button::HdmiInput},
    {"sdi-input", Button::SdiInput},
    {"balanced-input", Button::BalancedInput},
    {"unbalanced-input", Button::UnbalancedInput},
};

const char* const kLevelNames[] = {"volume", "brightness", "contrast", "saturation"};

std::string Dotted(uint32_t a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255,
                  a & 255);
    return text;
}

// A whole decimal number within 0..255.
bool ParseByte(const std::string& text, uint8_t& value) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    int number = std::atoi(text.c_str());
    if (number > 255) return false;
    value = static_cast<uint8_t>(number);
    return true;
}

}  // namespace

std::string StateJson(const UnitState& s) {
    char mac[13];
    std::snprintf(mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", s.mac[0], s.mac[1], s.mac[2],
                  s.mac[3], s.mac[4], s.mac[5]);
    std::ostringstream json;
    json << "{\"soloLeft\":" << int{s.soloLeft} << ",\"soloRight\":" << int{s.soloRight}
         << ",\"mixDown\":" << int{s.mixDown} << ",\"meterMode\":" << int{s.meterMode}
         << ",\"input\":" << int{s.input} << ",\"muted\":" << int{s.muted} << ",\"levels\":["
         << s.levels[0] << "," << s.levels[1] << "," << s.levels[2] << "," << s.levels[3]
         << "],\"ip\":\"" << Dotted(s.ip) << "\",\"mask\":\"" << Dotted(s.mask)
         << "\",\"gateway\":\"" << Dotted(s.gateway) << "\",\"dhcp\":" << (s.dhcp ? 1 : 0)
         << ",\"mac\":\"" << mac << "\",\"mainVersion\":[" << int{s.mainVersion[0]} << ","
         << int{s.mainVersion[1]} << "],\"netVersion\":[" << int{s.netVersion[0]} << ","
         << int{s.netVersion[1]} << "]}";
    return json.str();
}

ControlChannel::ControlChannel(Unit& unit) : m_unit(unit) {
    m_commands["state"] = [this](const std::string&) { return StateJson(m_unit.State()); };
    m_commands["set"] = [this](const std::string& arguments) { return Set(arguments); };
    m_commands["press"] = [this](const std::string& name) { return Press(name); };
}

ControlChannel::~ControlChannel() { Stop(); }

void ControlChannel::AddCommand(const std::string& name, Command command) {
    m_commands[name] = std::move(command);
}

std::string ControlChannel::Execute(const std::string& line) {
    const size_t space = line.find(' ');
    const std::string name = line.substr(0, space);
    const std::string arguments = space == line.npos ? "" : line.substr(space + 1);
    auto command = m_commands.find(name);
    if (command == m_commands.end()) return "error: unknown command " + name;
    std::lock_guard<std::mutex> lock(m_executeMutex);
    return command->second(arguments);
}

std::string ControlChannel::Set(const std::string& arguments) {
    std::istringstream words(arguments);
    std::string word;
    bool any = false;
    while (words >> word) {
        const size_t equals = word.find('=');
        if (equals == word.npos) return "error: expected NAME=VALUE, got " + word;
        if (!SetOne(word.substr(0, equals), word.substr(equals + 1))) {
            return "error: cannot set " + word;
        }
        any = true;
    }
    return any ? "ok" : "error: nothing to set";
}

bool ControlChannel::SetOne(const std::string& name, const std::string& value) {
    uint8_t byte = 0;
    for (int i = 0; i < 4; ++i) {
        if (name != kLevelNames[i]) continue;
        if (!ParseByte(value, byte)) return false;
        m_unit.SetLevel(static_cast<Level>(i), byte);
        return true;
    }
    uint32_t address = 0;
    if (name == "ip" || name == "mask" || name == "gateway") {
        if (!ParseDotted(value, address)) return false;
        if (name == "ip") m_unit.SetIp(address);
        if (name == "mask") m_unit.SetMask(address);
        if (name == "gateway") m_unit.SetGateway(address);
        return true;
    }
    if (name == "main-version" || name == "net-version") {
        const size_t dot = value.find('.');
        uint8_t major = 0;
        uint8_t minor = 0;
        if (dot == value.npos || !ParseByte(value.substr(0, dot), major) ||
            !ParseByte(value.substr(dot + 1), minor)) {
            return false;
        }
        auto field = name == "main-version" ? &UnitState::mainVersion : &UnitState::netVersion;
        m_unit.Update([&](UnitState& state) { state.*field = {major, minor}; });
        return true;
    }
    if (name == "dhcp") {
        if (value != "0" && value != "1") return false;
        m_unit.SetDhcp(value == "1");
        return true;
    }
    uint8_t UnitState::*field = nullptr;
    if (name == "solo-left") field = &UnitState::soloLeft;
    if (name == "solo-right") field = &UnitState::soloRight;
    if (name == "mix-down") field = &UnitState::mixDown;
    if (name == "meter") field = &UnitState::meterMode;
    if (name == "input") field = &UnitState::input;
    if (!field || !ParseByte(value, byte)) return false;
    m_unit.Update([&](UnitState& state) { state.*field = byte; });
    return true;
}

std::string ControlChannel::Press(const std::string& name) {
    for (const ButtonName& button : kButtonNames) {
        if (name != button.name) continue;
        m_unit.Press(button.button);
        return "ok";
    }
    return "error: unknown button " + name;
}

bool ControlChannel::Start(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        m_error = "control socket path too long: " + path;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    m_listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_listenFd, 4) != 0 || pipe2(m_wake, O_CLOEXEC) != 0) {
        m_error = "cannot listen on " + path + ": " + std::strerror(errno);
        Stop();
        return false;
    }
    m_path = path;
    m_thread = std::thread(&ControlChannel::Serve, this);
    return true;
}

void ControlChannel::Stop() {
    if (m_wake[1] >= 0) {
        char byte = 0;
        (void)!write(m_wake[1], &byte, 1);
    }
    if (m_thread.joinable()) m_thread.join();
    for (int* fd : {&m_listenFd, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    if (!m_path.empty()) unlink(m_path.c_str());
    m_path.clear();
}

bool ControlChannel::WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    int ready;
    do {
        ready = poll(fds, 2, -1);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && !(fds[1].revents & POLLIN);
}

void ControlChannel::Serve() {
    while (WaitReadable(m_listenFd)) {
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        Converse(fd);
        close(fd);
    }
}

void ControlChannel::Converse(int fd) {
    std::string line;
    char chunk[1024];
    while (WaitReadable(fd)) {
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] != '\n') {
                if (chunk[i] != '\r') line += chunk[i];
                continue;
            }
            const std::string reply = Execute(line) + "\n";
            line.clear();
            if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(reply.size())) {
                return;
            }
        }
    }
}

}  // namespace vantrel::sim

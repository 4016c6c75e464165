#pragma once
// What /proc says of a process the benchmarks run: its CPU time and its memory.
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace vantrel::bench {

/// The process's user and system time, in seconds (/proc/PID/stat fields 14 and 15).
inline double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::atoll(field.c_str());
        if (i == 15) stime = std::atoll(field.c_str());
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

/// A line of /proc/PID/status, in MiB: VmRSS now, VmHWM its peak.
inline double MemoryMiB(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ":", 0) == 0) return std::atof(line.c_str() + name.size() + 1) / 1024;
    }
    return 0;
}

}  // namespace vantrel::bench

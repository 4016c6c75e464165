#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace vantrel::testing {

struct CtlRun {
    int code = -1;
    std::string output;  // stdout and stderr together
};

/// Runs the tool; one that is still running after 60 s is killed (exit code 124).
inline CtlRun Ctl(const std::string& arguments) {
    CtlRun run;
    const std::string command =
        std::string("timeout 60 ") + VANTREL_CTL + " " + arguments + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) run.output += chunk;
    const int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace vantrel::testing

// kestctl run as a program by the integration tests (which define
// KESTCTL_PATH): its exit code and its standard output, a line a device.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

struct CtlRun {
    int exitCode = -1;
    std::vector<std::string> lines;  // standard output, sorted: devices finish in any order
};

// Runs kestctl with args (standard error discarded, no input).
inline CtlRun kestctl(const std::string& args) {
    CtlRun run;
    const std::string command = std::string(KESTCTL_PATH) + " " + args + " 2>/dev/null </dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line = buffer;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        run.lines.push_back(line);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::sort(run.lines.begin(), run.lines.end());
    return run;
}

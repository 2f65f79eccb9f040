// kestctl run as a program by the integration tests (which define
// KESTCTL_PATH): its exit code and its standard output, a line a device; or
// a kestctl child that runs on while the test reads it and signals it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

// A kestctl process still running, its standard output on a pipe.
struct KestctlChild {
    pid_t pid = -1;
    FILE* out = nullptr;
    std::chrono::steady_clock::time_point start;
};

struct KestctlChildOptions {
    // A file size limit, with SIGXFSZ ignored so that a write past it fails
    // as on a full disk.
    rlim_t fileSizeLimit = RLIM_INFINITY;
    bool withErrors = false;  // standard error on the pipe too (discarded otherwise)
};

inline KestctlChild startKestctl(const std::vector<std::string>& args,
                                 const KestctlChildOptions& options = {}) {
    KestctlChild child;
    std::vector<std::string> all = {KESTCTL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return child;
    child.start = std::chrono::steady_clock::now();
    child.pid = fork();
    if (child.pid == 0) {
        // Only calls that are safe between fork and exec.
        const int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(options.withErrors ? out[1] : null, 2);
        dup2(out[1], 1);
        if (options.fileSizeLimit != RLIM_INFINITY) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigaction(SIGXFSZ, &ignore, nullptr);
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = options.fileSizeLimit;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    child.out = fdopen(out[0], "r");
    return child;
}

// The next line of its output, without the line end; false at the end.
inline bool readKestctlLine(KestctlChild& child, std::string& line) {
    char buffer[4096];
    if (!child.out || !std::fgets(buffer, sizeof buffer, child.out)) return false;
    line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return true;
}

struct KestctlEnd {
    int exitCode = -1;
    std::string rest;    // the output not read before
    long peakKb = 0;     // peak resident size
    double seconds = 0;  // from start to end
};

// Reads the rest of its output and waits for it to end.
inline KestctlEnd finishKestctl(KestctlChild& child) {
    KestctlEnd end;
    if (child.out) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, child.out)) > 0)
            end.rest.append(buffer, n);
        std::fclose(child.out);
        child.out = nullptr;
    }
    int status = 0;
    rusage usage{};
    if (child.pid > 0 && wait4(child.pid, &status, 0, &usage) == child.pid) {
        end.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        end.peakKb = usage.ru_maxrss;
    }
    end.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - child.start).count();
    return end;
}

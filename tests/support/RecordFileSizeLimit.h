// A full disk for the record writer, made with the process's file size limit
// (RLIMIT_FSIZE): a write past the limit fails with EFBIG instead of raising
// SIGXFSZ, which is ignored meanwhile. It holds for every file the process
// writes, for root as well, and both are put back when the guard goes.
#pragma once

#include <sys/resource.h>

#include <csignal>

class RecordFileSizeLimit {
public:
    explicit RecordFileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;  // the soft limit only: it can be raised back
        active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~RecordFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    RecordFileSizeLimit(const RecordFileSizeLimit&) = delete;
    RecordFileSizeLimit& operator=(const RecordFileSizeLimit&) = delete;

    bool active() const { return active_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

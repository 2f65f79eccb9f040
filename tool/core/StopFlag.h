// A stop request that sleeping workers notice at once. The device's workers run
// for the whole process; tests and the main dialog's teardown stop them with it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class StopFlag {
public:
    void request() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        cond_.notify_all();
    }

    bool requested() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopped_;
    }

    // Sleeps for the given time; returns false when woken by a stop request.
    template <class Rep, class Period>
    bool sleepFor(std::chrono::duration<Rep, Period> duration) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return !cond_.wait_for(lock, duration, [this] { return stopped_; });
    }

    // Sleeps until the given instant of the steady clock; false when stopped.
    bool sleepUntil(std::chrono::steady_clock::time_point when) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return !cond_.wait_until(lock, when, [this] { return stopped_; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cond_;
    bool stopped_ = false;
};

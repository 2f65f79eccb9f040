// The registration dialog's steps off the GUI thread: each button's work
// (point dumps, projections, pictures) runs on one thread of the dialog's
// own, one step after another in the order the buttons were pressed, so the
// console lines, the dump files and the pictures come as they would from the
// buttons themselves while the window keeps answering.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class RegStepQueue {
public:
    RegStepQueue();
    // Drops the steps not begun yet and waits for the one under way.
    ~RegStepQueue();
    RegStepQueue(const RegStepQueue&) = delete;
    RegStepQueue& operator=(const RegStepQueue&) = delete;

    // Queues a step behind every step queued before it.
    void post(std::function<void()> step);
    // True when no step is queued or under way.
    bool idle() const;
    // Returns once every step queued so far has been done.
    void waitIdle();

private:
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // a step was queued, or the end
    std::condition_variable m_done;  // the queue ran empty
    std::deque<std::function<void()>> m_steps;
    bool m_busy = false;
    bool m_ending = false;
    std::thread m_thread;
};

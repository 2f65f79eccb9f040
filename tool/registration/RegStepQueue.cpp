#include "registration/RegStepQueue.h"

RegStepQueue::RegStepQueue() : m_thread(&RegStepQueue::run, this) {}

RegStepQueue::~RegStepQueue() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_steps.clear();
    }
    m_wake.notify_all();
    m_thread.join();
}

void RegStepQueue::post(std::function<void()> step) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_steps.push_back(std::move(step));
    }
    m_wake.notify_all();
}

bool RegStepQueue::idle() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_steps.empty() && !m_busy;
}

void RegStepQueue::waitIdle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [this] { return m_steps.empty() && !m_busy; });
}

void RegStepQueue::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_ending || !m_steps.empty(); });
        if (m_ending) break;
        std::function<void()> step = std::move(m_steps.front());
        m_steps.pop_front();
        m_busy = true;
        lock.unlock();
        step();
        step = nullptr;  // what the step holds goes before the queue is idle
        lock.lock();
        m_busy = false;
        if (m_steps.empty()) m_done.notify_all();
    }
    m_busy = false;
    m_done.notify_all();
}

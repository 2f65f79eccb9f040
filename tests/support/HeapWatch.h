// Measures how far the process's heap grows above where it stood when the
// watch started, sampling every millisecond on a thread of its own: the
// memory a link uses while a faulty device plays its part. Reads the
// sanitizer's allocator in sanitizer builds, glibc's otherwise.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

// Bytes currently allocated on the heap by the whole process.
size_t heapInUse();

class HeapWatch {
public:
    HeapWatch();
    ~HeapWatch();
    HeapWatch(const HeapWatch&) = delete;
    HeapWatch& operator=(const HeapWatch&) = delete;

    // Highest growth above the start seen so far (0 when the heap only shrank).
    size_t peakGrowth() const;

private:
    size_t baseline_;
    std::atomic<size_t> peak_;
    std::atomic<bool> running_{true};
    std::thread sampler_;
};

#include "HeapWatch.h"

#include <malloc.h>

#include <chrono>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KEST_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KEST_SANITIZER_HEAP 1
#endif
#endif

#if defined(KEST_SANITIZER_HEAP)
// From the sanitizer runtime's allocator interface (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

size_t heapInUse() {
#if defined(KEST_SANITIZER_HEAP)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;  // small chunks in use + mapped large ones
#endif
}

HeapWatch::HeapWatch() : baseline_(heapInUse()), peak_(baseline_) {
    sampler_ = std::thread([this] {
        while (running_) {
            const size_t now = heapInUse();
            size_t seen = peak_.load();
            while (now > seen && !peak_.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

HeapWatch::~HeapWatch() {
    running_ = false;
    sampler_.join();
}

size_t HeapWatch::peakGrowth() const {
    const size_t peak = peak_.load();
    return peak > baseline_ ? peak - baseline_ : 0;
}

// Names the calling thread as the system shows it (top -H, ps -L, gdb,
// /proc/PID/task/TID/comm), so a field engineer can tell the live pipeline's
// threads apart when one of them is busy.
#pragma once

#include <pthread.h>

inline void nameThisThread(const char* name) {
#if defined(__linux__)
    pthread_setname_np(pthread_self(), name);  // the kernel keeps 15 characters
#else
    (void)name;
#endif
}

#include "allocated_memory.h"

#include <cstddef>  // tells which C library there is

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>

long long allocatedKiB() {
    // The commit charge: private memory committed to this process. Windows
    // gives it as PrivateUsage too, but Wine only as this.
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return -1;
    }
    return static_cast<long long>(counters.PagefileUsage / 1024);
}
#elif defined(__GLIBC__)
#include <malloc.h>

long long allocatedKiB() {
    // In use in the heap's arenas, and in blocks mapped on their own (images).
    const struct mallinfo2 heap = mallinfo2();
    return static_cast<long long>((heap.uordblks + heap.hblkhd) / 1024);
}
#else
long long allocatedKiB() { return -1; }
#endif

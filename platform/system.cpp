// Time and the named mutex.

#include <chrono>
#include <cstring>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "platform/platform.h"

namespace plat {

uint32_t tickCount() {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms); // wraps at 2^32 like the Windows tick count
}

uint64_t cycleCounter() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
#endif
}

struct Mutex {
    char name[64] = {};
    int openCount = 0;
    std::recursive_mutex lock; // a Windows mutex may be taken again by the thread that owns it
};

namespace {
// Named mutexes live for the process, like the kernel objects they stand for; a few names suffice.
constexpr int kMaxMutexes = 8;
Mutex g_mutexes[kMaxMutexes];
std::mutex g_mutexTable;
} // namespace

Mutex* createMutex(const char* name) {
    std::lock_guard<std::mutex> guard(g_mutexTable);
    Mutex* freeSlot = nullptr;
    for (Mutex& mutex : g_mutexes) {
        if (mutex.openCount > 0 && std::strncmp(mutex.name, name ? name : "", sizeof mutex.name) == 0) {
            ++mutex.openCount;
            return &mutex;
        }
        if (mutex.openCount == 0 && !freeSlot) freeSlot = &mutex;
    }
    if (!freeSlot) return nullptr;
    std::strncpy(freeSlot->name, name ? name : "", sizeof freeSlot->name - 1);
    freeSlot->openCount = 1;
    return freeSlot;
}

void waitMutex(Mutex* mutex) {
    if (mutex) mutex->lock.lock();
}

void releaseMutex(Mutex* mutex) {
    if (mutex) mutex->lock.unlock();
}

void closeMutex(Mutex* mutex) {
    if (!mutex) return;
    std::lock_guard<std::mutex> guard(g_mutexTable);
    if (mutex->openCount > 0) --mutex->openCount;
}

} // namespace plat

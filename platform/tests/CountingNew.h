// Replaces the global operator new and delete of a test program so that it can count every C++
// allocation (the frame's and the mix's "allocate nothing" tests). Include it in one file of a program.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace countingnew {
inline std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    ++countingnew::allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++countingnew::allocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

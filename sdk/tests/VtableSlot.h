// Reads which operation-table entry a virtual member function occupies, so tests can check slot order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sdk_test {

// The Itanium C++ ABI on x86-64 stores a pointer to a virtual member function as 1 + the byte offset of
// its table entry. Returns the entry index, or -1 on other ABIs (the order tests then skip).
template <class MemberFunction> std::ptrdiff_t vtableSlot(MemberFunction memberFunction) {
#if defined(__x86_64__) && defined(__GXX_ABI_VERSION)
    static_assert(sizeof(MemberFunction) == 2 * sizeof(void*));
    uintptr_t words[2];
    std::memcpy(words, &memberFunction, sizeof words);
    if ((words[0] & 1) == 0) return -1;
    return static_cast<std::ptrdiff_t>((words[0] - 1) / sizeof(void*));
#else
    (void)memberFunction;
    return -1;
#endif
}

constexpr bool kSlotsReadable =
#if defined(__x86_64__) && defined(__GXX_ABI_VERSION)
    true;
#else
    false;
#endif

} // namespace sdk_test

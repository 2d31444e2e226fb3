// Clearing of secrets that the optimiser must not drop as dead stores.
#pragma once

#include <cstddef>
#include <cstring>

namespace tokencrypto {

// The empty statement claims to read the cleared memory, so the stores
// before it stay. An empty buffer may have no address at all.
inline void SecureZero(void* data, size_t length)
{
    if (length == 0) return;
    std::memset(data, 0, length);
    __asm__ __volatile__("" : : "r"(data) : "memory");
}

// Clears each of several objects whole: arrays by their full size.
template <typename... T>
void SecureZeroAll(T&... objects)
{
    (SecureZero(&objects, sizeof objects), ...);
}

// Clears kBytes of stack below the caller's frame: the frames of the calls
// it has just returned from, whose locals (products, sums and copies of a
// secret, too deep and too many to clear one by one) are still there.
// kBytes must cover the deepest of those calls.
template <size_t kBytes>
[[gnu::noinline]] void SecureZeroStack()
{
    unsigned char area[kBytes];
    SecureZero(area, sizeof area);
}

} // namespace tokencrypto

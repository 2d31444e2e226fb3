// Clearing of secrets that the optimiser must not drop as dead stores.
#pragma once

#include <cstddef>

namespace tokencrypto {

inline void SecureZero(void* data, size_t length)
{
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (length-- != 0) *p++ = 0;
}

// Clears each of several objects whole: arrays by their full size.
template <typename... T>
void SecureZeroAll(T&... objects)
{
    (SecureZero(&objects, sizeof objects), ...);
}

} // namespace tokencrypto

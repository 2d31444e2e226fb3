// Helpers for code on secret data, and the one way to say that a value
// derived from a secret is public: a result that is handed out anyway, or
// the verdict on a draw that is then thrown away. In the constant-time
// check build (TOKENCRYPTO_CT_CHECK) secrets are marked undefined for
// valgrind's memcheck, which then reports any branch or address that
// depends on them; a declassified value no longer counts.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(TOKENCRYPTO_CT_CHECK)
#include <valgrind/memcheck.h>
#endif

namespace tokencrypto {

inline void CT_Declassify(const void* data, size_t length)
{
#if defined(TOKENCRYPTO_CT_CHECK)
    (void)VALGRIND_MAKE_MEM_DEFINED(data, length);
#else
    (void)data;
    (void)length;
#endif
}

template <class T>
T CT_Public(T value)
{
    CT_Declassify(&value, sizeof value);
    return value;
}

// All ones when x is zero, else zero.
template <class W>
W CT_ZeroMask(W x)
{
    constexpr unsigned kTop = sizeof(W) * 8 - 1;
    return W(((x | (W(0) - x)) >> kTop) - 1);
}

} // namespace tokencrypto

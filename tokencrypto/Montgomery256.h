// Montgomery multiplication of 256-bit values modulo a prime whose low limb
// is all ones, as the recommended SM2 prime's is. -m^-1 is then 1 modulo
// the limb base: the reduction multiple of a column is its bottom limb, and
// adding it times the low limb of m only carries it into the next column.
// The length is fixed when compiling so that every loop unrolls. Constant
// time, like the general routines. Internal to the library.
#pragma once

#include "tokencrypto/Montgomery.h"

namespace tokencrypto {
namespace mont {

constexpr size_t k256Limbs = 256 / kLimbBits;

inline bool LowLimbAllOnes(const Limb* m)
{
    return m[0] == ~Limb(0);
}

// Moves on past column i, whose bottom limb u[i] clears with u[i] m.
inline void CloseLowColumnAllOnes(Column& acc, Limb* u, size_t i)
{
    u[i] = acc.Bottom();
    acc.Shift();
    Column carried;
    carried.low = u[i];
    acc.AddColumn(carried);
}

// r = a b R^-1 mod m for a, b below m; r may alias a or b.
inline void Mul256(Limb* r, const Limb* a, const Limb* b, const Limb* m)
{
    constexpr size_t n = k256Limbs;
    Limb u[n], t[n + 1];
    Column acc;
#pragma GCC unroll 8
    for (size_t i = 0; i < n; ++i) {
#pragma GCC unroll 8
        for (size_t j = 0; j <= i; ++j) acc.AddProduct(a[j], b[i - j]);
#pragma GCC unroll 8
        for (size_t j = 0; j < i; ++j) acc.AddProduct(u[j], m[i - j]);
        CloseLowColumnAllOnes(acc, u, i);
    }
#pragma GCC unroll 8
    for (size_t i = n; i < 2 * n - 1; ++i) {
#pragma GCC unroll 8
        for (size_t j = i - n + 1; j < n; ++j) acc.AddProduct(a[j], b[i - j]);
#pragma GCC unroll 8
        for (size_t j = i - n + 1; j < n; ++j) acc.AddProduct(u[j], m[i - j]);
        t[i - n] = acc.Shift();
    }
    t[n - 1] = acc.Shift();
    t[n] = acc.Bottom();
    ReduceOnce(r, t, m, n);
}

} // namespace mont
} // namespace tokencrypto

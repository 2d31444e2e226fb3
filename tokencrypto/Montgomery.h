// Montgomery multiplication over limb arrays, shared by the RSA
// exponentiation and the SM2 field. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tokencrypto {
namespace mont {

// Where the compiler has a 128-bit product (64-bit targets) the limbs are
// 64 bits wide, which quarters the multiplications; elsewhere 32 bits.
#if defined(__SIZEOF_INT128__)
using Limb = uint64_t;
using Wide = unsigned __int128;
#else
using Limb = uint32_t;
using Wide = uint64_t;
#endif

constexpr unsigned kLimbBits = sizeof(Limb) * 8;
constexpr size_t kDigitsPerLimb = sizeof(Limb) / sizeof(uint32_t);
// A 65-digit modulus plus slack.
constexpr size_t kMaxLimbs = 66 / kDigitsPerLimb + 1;

// -m0^-1 mod 2^kLimbBits by Newton's iteration; m0 must be odd.
inline Limb NegInverse(Limb m0)
{
    Limb x = m0; // correct to 3 bits for odd m0
    for (int i = 0; i < 6; ++i) x *= Limb(2) - m0 * x;
    return Limb(0) - x;
}

// r = t - m when t (n + 1 limbs) is not below m, else t; r has n limbs.
inline void ReduceOnce(Limb* r, const Limb* t, const Limb* m, size_t n)
{
    Limb d[kMaxLimbs];
    Limb borrow = 0;
    for (size_t i = 0; i < n; ++i) {
        const Wide diff = Wide(t[i]) - m[i] - borrow;
        d[i] = Limb(diff);
        borrow = Limb(diff >> kLimbBits) & 1;
    }
    // Keep d unless the subtraction borrowed past the top limb.
    const Limb keepT = Limb(0) - Limb(borrow > t[n]);
    for (size_t i = 0; i < n; ++i) r[i] = (t[i] & keepT) | (d[i] & ~keepT);
}

// Running sum of one column of limb products: two limbs and a count of
// their overflows, enough for the 2n products of any column.
struct Column {
    Wide low = 0;
    Limb high = 0;

    void AddProduct(Limb x, Limb y)
    {
        const Wide p = Wide(x) * y;
        low += p;
        high += Limb(low < p);
    }
    void AddColumn(const Column& c)
    {
        low += c.low;
        high += c.high + Limb(low < c.low);
    }
    void Double()
    {
        high = (high << 1) | Limb(low >> (2 * kLimbBits - 1));
        low <<= 1;
    }
    Limb Bottom() const { return Limb(low); }
    // Hands out the finished bottom limb and moves on to the next column.
    Limb Shift()
    {
        const Limb bottom = Limb(low);
        low = (low >> kLimbBits) | (Wide(high) << kLimbBits);
        high = 0;
        return bottom;
    }
};

// The reduction's share of column i: u[j] m[i - j] for j in [from, to).
inline void AddReduction(Column& acc, const Limb* u, const Limb* m, size_t from, size_t to, size_t i)
{
    for (size_t j = from; j < to; ++j) acc.AddProduct(u[j], m[i - j]);
}

// Chooses u[i] so that column i ends in a zero limb, which is dropped.
inline void CloseLowColumn(Column& acc, Limb* u, const Limb* m, Limb m0inv, size_t i)
{
    u[i] = acc.Bottom() * m0inv;
    acc.AddProduct(u[i], m[0]);
    acc.Shift();
}

// r = a b R^-1 mod m for a, b below m; r may alias a or b. Product
// scanning: column by column, each column's share of a b and of the
// reduction multiple u m summed together, so no row of partial products
// is ever stored.
inline void Mul(Limb* r, const Limb* a, const Limb* b, const Limb* m, Limb m0inv, size_t n)
{
    Limb u[kMaxLimbs], t[kMaxLimbs + 1];
    Column acc;
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j <= i; ++j) acc.AddProduct(a[j], b[i - j]);
        AddReduction(acc, u, m, 0, i, i);
        CloseLowColumn(acc, u, m, m0inv, i);
    }
    for (size_t i = n; i < 2 * n - 1; ++i) {
        for (size_t j = i - n + 1; j < n; ++j) acc.AddProduct(a[j], b[i - j]);
        AddReduction(acc, u, m, i - n + 1, n, i);
        t[i - n] = acc.Shift();
    }
    t[n - 1] = acc.Shift();
    t[n] = acc.Bottom();
    ReduceOnce(r, t, m, n);
}

// Column i of a^2 and of the reduction multiple u m, limbs j from `from`
// up. Each product of two different limbs of a appears twice in the
// square, so it is summed once and doubled; the loop takes one such
// product and one of the reduction together.
inline void AddSquareColumn(Column& acc, const Limb* a, const Limb* u, const Limb* m, size_t from, size_t to, size_t i)
{
    Column pairs;
    size_t j = from;
    for (; 2 * j < i; ++j) {
        pairs.AddProduct(a[j], a[i - j]);
        acc.AddProduct(u[j], m[i - j]);
    }
    for (; j < to; ++j) acc.AddProduct(u[j], m[i - j]);
    pairs.Double();
    acc.AddColumn(pairs);
    if (i % 2 == 0) acc.AddProduct(a[i / 2], a[i / 2]);
}

// r = a^2 R^-1 mod m for a below m, as Mul(r, a, a) gives it with about a
// quarter fewer products; r may alias a.
inline void Sqr(Limb* r, const Limb* a, const Limb* m, Limb m0inv, size_t n)
{
    Limb u[kMaxLimbs], t[kMaxLimbs + 1];
    Column acc;
    for (size_t i = 0; i < n; ++i) {
        AddSquareColumn(acc, a, u, m, 0, i, i);
        CloseLowColumn(acc, u, m, m0inv, i);
    }
    for (size_t i = n; i < 2 * n - 1; ++i) {
        AddSquareColumn(acc, a, u, m, i - n + 1, n, i);
        t[i - n] = acc.Shift();
    }
    t[n - 1] = acc.Shift();
    t[n] = acc.Bottom();
    ReduceOnce(r, t, m, n);
}

// r = a + b mod m for a, b below m.
inline void Add(Limb* r, const Limb* a, const Limb* b, const Limb* m, size_t n)
{
    Limb t[kMaxLimbs + 1];
    Limb carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const Wide s = Wide(a[i]) + b[i] + carry;
        t[i] = Limb(s);
        carry = Limb(s >> kLimbBits);
    }
    t[n] = carry;
    ReduceOnce(r, t, m, n);
}

// r = a - b mod m for a, b below m.
inline void Sub(Limb* r, const Limb* a, const Limb* b, const Limb* m, size_t n)
{
    Limb borrow = 0;
    Limb d[kMaxLimbs];
    for (size_t i = 0; i < n; ++i) {
        const Wide diff = Wide(a[i]) - b[i] - borrow;
        d[i] = Limb(diff);
        borrow = Limb(diff >> kLimbBits) & 1;
    }
    const Limb mask = Limb(0) - borrow;
    Limb carry = 0;
    for (size_t i = 0; i < n; ++i) {
        const Wide s = Wide(d[i]) + (m[i] & mask) + carry;
        r[i] = Limb(s);
        carry = Limb(s >> kLimbBits);
    }
}

// Little-endian 32-bit digits to limbs and back; the digit count need not
// fill the last limb.
inline void FromDigits(Limb* r, size_t limbs, const uint32_t* digits, size_t count)
{
    for (size_t i = 0; i < limbs; ++i) {
        Limb v = 0;
        for (size_t k = 0; k < kDigitsPerLimb; ++k) {
            const size_t index = i * kDigitsPerLimb + k;
            if (index < count) v |= Limb(digits[index]) << (32 * k);
        }
        r[i] = v;
    }
}

inline void ToDigits(uint32_t* digits, size_t count, const Limb* limbs)
{
    for (size_t index = 0; index < count; ++index) {
        digits[index] = uint32_t(limbs[index / kDigitsPerLimb] >> (32 * (index % kDigitsPerLimb)));
    }
}

} // namespace mont
} // namespace tokencrypto

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
inline Limb NegInverse(Limb m0) {
    Limb x = m0;  // correct to 3 bits for odd m0
    for (int i = 0; i < 6; ++i) x *= Limb(2) - m0 * x;
    return Limb(0) - x;
}

// r = t - m when t (n + 1 limbs) is not below m, else t; r has n limbs.
inline void ReduceOnce(Limb* r, const Limb* t, const Limb* m, size_t n) {
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

// r = a b R^-1 mod m for a, b below m (CIOS); r may alias a or b.
inline void Mul(Limb* r, const Limb* a, const Limb* b, const Limb* m, Limb m0inv, size_t n) {
    Limb t[kMaxLimbs + 2] = {};
    for (size_t i = 0; i < n; ++i) {
        Limb carry = 0;
        const Limb bi = b[i];
        for (size_t j = 0; j < n; ++j) {
            const Wide s = Wide(a[j]) * bi + t[j] + carry;
            t[j] = Limb(s);
            carry = Limb(s >> kLimbBits);
        }
        Wide s = Wide(t[n]) + carry;
        t[n] = Limb(s);
        t[n + 1] = Limb(s >> kLimbBits);

        const Limb u = t[0] * m0inv;
        s = Wide(u) * m[0] + t[0];
        carry = Limb(s >> kLimbBits);
        for (size_t j = 1; j < n; ++j) {
            s = Wide(u) * m[j] + t[j] + carry;
            t[j - 1] = Limb(s);
            carry = Limb(s >> kLimbBits);
        }
        s = Wide(t[n]) + carry;
        t[n - 1] = Limb(s);
        t[n] = t[n + 1] + Limb(s >> kLimbBits);
    }
    ReduceOnce(r, t, m, n);
}

// r = a + b mod m for a, b below m.
inline void Add(Limb* r, const Limb* a, const Limb* b, const Limb* m, size_t n) {
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
inline void Sub(Limb* r, const Limb* a, const Limb* b, const Limb* m, size_t n) {
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
inline void FromDigits(Limb* r, size_t limbs, const uint32_t* digits, size_t count) {
    for (size_t i = 0; i < limbs; ++i) {
        Limb v = 0;
        for (size_t k = 0; k < kDigitsPerLimb; ++k) {
            const size_t index = i * kDigitsPerLimb + k;
            if (index < count) v |= Limb(digits[index]) << (32 * k);
        }
        r[i] = v;
    }
}

inline void ToDigits(uint32_t* digits, size_t count, const Limb* limbs) {
    for (size_t index = 0; index < count; ++index) {
        digits[index] = uint32_t(limbs[index / kDigitsPerLimb] >> (32 * (index % kDigitsPerLimb)));
    }
}

}  // namespace mont
}  // namespace tokencrypto

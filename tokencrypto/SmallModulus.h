// Remainders by a small public divisor (trial division, the public
// exponent) of secret numbers, by multiplication only: a division
// instruction's time may depend on its dividend. Internal to the library.
#pragma once

#include <cstdint>

namespace tokencrypto {

// d below 2^17, with mu = floor(2^32 / d).
struct SmallModulus {
    uint32_t d;
    uint64_t mu;
};

inline SmallModulus SmallModulus_Make(uint32_t d)
{
    return {d, (uint64_t(1) << 32) / d};
}

// x mod d for x below d 2^17. The quotient estimate is at most 3 short,
// so three masked subtractions finish it.
inline uint32_t SmallModulus_Reduce(const SmallModulus& m, uint64_t x)
{
    uint64_t r = x - ((x * m.mu) >> 32) * m.d;
    for (int i = 0; i < 3; ++i) {
        const uint64_t t = r - m.d;
        const uint64_t keepR = uint64_t(0) - (t >> 63);
        r = (r & keepR) | (t & ~keepR);
    }
    return uint32_t(r);
}

// a mod d, 16 bits at a time.
inline uint32_t SmallModulus_Of(const SmallModulus& m, const uint32_t* a, uint32_t digits)
{
    uint32_t r = 0;
    for (uint32_t i = digits; i-- > 0;) {
        r = SmallModulus_Reduce(m, (uint64_t(r) << 16) | (a[i] >> 16));
        r = SmallModulus_Reduce(m, (uint64_t(r) << 16) | (a[i] & 0xFFFF));
    }
    return r;
}

} // namespace tokencrypto

#include "tokencrypto/CtModulus.h"

#include <cstring>

#include "tokencrypto/BigNumber.h"
#include "tokencrypto/ConstantTime.h"
#include "tokencrypto/SecureZero.h"

namespace tokencrypto {
namespace {

using mont::Limb;

constexpr unsigned kWindowBits = 5;
constexpr unsigned kEntries = 1u << kWindowBits;

void ToLimbs(const CtModulus& s, Limb* r, const uint32_t* digits)
{
    mont::FromDigits(r, s.limbs, digits, s.digits);
}

void FromLimbs(const CtModulus& s, uint32_t* digits, const Limb* r)
{
    mont::ToDigits(digits, s.digits, r);
}

void Mul(const CtModulus& s, Limb* r, const Limb* a, const Limb* b)
{
    mont::Mul(r, a, b, s.m, s.m0inv, s.limbs);
}

void Sqr(const CtModulus& s, Limb* r, const Limb* a)
{
    mont::Sqr(r, a, s.m, s.m0inv, s.limbs);
}

void FromMont(const CtModulus& s, uint32_t* a, const Limb* x)
{
    Limb one[mont::kMaxLimbs] = {1}, plain[mont::kMaxLimbs];
    Mul(s, plain, x, one);
    FromLimbs(s, a, plain);
    SecureZero(plain, sizeof plain);
}

void SetModulus(CtModulus* s, const uint32_t* d, uint32_t digits)
{
    s->digits = digits;
    s->limbs = (digits + mont::kDigitsPerLimb - 1) / mont::kDigitsPerLimb;
    mont::FromDigits(s->m, s->limbs, d, digits);
    s->m0inv = mont::NegInverse(s->m[0]);
}

// The bits of c from `bit` up, past the top reading as zero.
unsigned ExponentWindow(const uint32_t* c, uint32_t cDigits, uint32_t bit)
{
    const uint32_t index = bit / 32, shift = bit % 32;
    uint64_t pair = c[index];
    if (index + 1 < cDigits) pair |= uint64_t(c[index + 1]) << 32;
    return unsigned(pair >> shift) & (kEntries - 1);
}

void Select(const CtModulus& s, Limb* r, const Limb table[kEntries][mont::kMaxLimbs], unsigned digit)
{
    std::memset(r, 0, s.limbs * sizeof *r);
    for (unsigned j = 0; j < kEntries; ++j) {
        const Limb mask = CT_ZeroMask(Limb(j ^ digit));
        for (size_t i = 0; i < s.limbs; ++i) r[i] |= table[j][i] & mask;
    }
}

// The fixed-window loop over every window of the exponent; kLimbs is the
// modulus's limb count, or 0 to take it from s.
template <size_t kLimbs>
void ExpWindows(const CtModulus& s, Limb* result, Limb* entry, const Limb table[kEntries][mont::kMaxLimbs],
                const uint32_t* c, uint32_t cDigits)
{
    const size_t n = kLimbs != 0 ? kLimbs : s.limbs;
    uint32_t w = (cDigits * 32 + kWindowBits - 1) / kWindowBits;
    Select(s, result, table, ExponentWindow(c, cDigits, --w * kWindowBits));
    while (w-- > 0) {
        for (unsigned k = 0; k < kWindowBits; ++k) mont::Sqr(result, result, s.m, s.m0inv, n);
        Select(s, entry, table, ExponentWindow(c, cDigits, w * kWindowBits));
        mont::Mul(result, result, entry, s.m, s.m0inv, n);
    }
}

bool IsOne(const Limb* a, size_t n)
{
    Limb rest = 0;
    for (size_t i = 1; i < n; ++i) rest |= a[i];
    return a[0] == 1 && rest == 0;
}

bool IsZero(const Limb* a, size_t n)
{
    Limb any = 0;
    for (size_t i = 0; i < n; ++i) any |= a[i];
    return any == 0;
}

// a >= b over n limbs.
bool NotBelow(const Limb* a, const Limb* b, size_t n)
{
    for (size_t i = n; i-- > 0;) {
        if (a[i] != b[i]) return a[i] > b[i];
    }
    return true;
}

void SubInPlace(Limb* a, const Limb* b, size_t n)
{
    Limb borrow = 0;
    for (size_t i = 0; i < n; ++i) {
        const mont::Wide diff = mont::Wide(a[i]) - b[i] - borrow;
        a[i] = Limb(diff);
        borrow = Limb(diff >> mont::kLimbBits) & 1;
    }
}

void HalveInPlace(Limb* a, Limb top, size_t n)
{
    for (size_t i = 0; i + 1 < n; ++i) a[i] = (a[i] >> 1) | (a[i + 1] << (mont::kLimbBits - 1));
    a[n - 1] = (a[n - 1] >> 1) | (top << (mont::kLimbBits - 1));
}

// u halved, with its coefficient x halved modulo m.
void HalveWithCoefficient(Limb* u, Limb* x, const Limb* m, size_t n)
{
    HalveInPlace(u, 0, n);
    Limb carry = 0;
    if (x[0] & 1) {
        for (size_t i = 0; i < n; ++i) {
            const mont::Wide sum = mont::Wide(x[i]) + m[i] + carry;
            x[i] = Limb(sum);
            carry = Limb(sum >> mont::kLimbBits);
        }
    }
    HalveInPlace(x, carry, n);
}

} // namespace

void CtModulus_InverseOfPublic(const CtModulus& s, uint32_t* a, const uint32_t* b)
{
    const size_t n = s.limbs;
    Limb u[mont::kMaxLimbs], v[mont::kMaxLimbs], x1[mont::kMaxLimbs] = {1}, x2[mont::kMaxLimbs] = {};
    ToLimbs(s, u, b);
    std::memcpy(v, s.m, n * sizeof *v);
    // x1 b = u and x2 b = v modulo m throughout.
    while (!IsZero(u, n) && !IsOne(u, n) && !IsOne(v, n)) {
        while ((u[0] & 1) == 0) HalveWithCoefficient(u, x1, s.m, n);
        while ((v[0] & 1) == 0) HalveWithCoefficient(v, x2, s.m, n);
        if (NotBelow(u, v, n)) {
            SubInPlace(u, v, n);
            mont::Sub(x1, x1, x2, s.m, n);
        } else {
            SubInPlace(v, u, n);
            mont::Sub(x2, x2, x1, s.m, n);
        }
    }
    FromLimbs(s, a, IsOne(u, n) ? x1 : x2);
}

void CtModulus_Init(CtModulus* s, const uint32_t* d, uint32_t digits)
{
    SetModulus(s, d, digits);
    // With R = 2^b, doubling a power of two below d up to 2^(b + t) and then
    // squaring the Montgomery way, which takes 2^(b + t) to 2^(b + 2t),
    // reaches R^2 with few doublings. The start is the lowest power of d's
    // top digit: the digit count is as public as the size.
    const size_t b = s->limbs * mont::kLimbBits;
    size_t t = b, squarings = 0;
    while (t % 2 == 0 && t > mont::kLimbBits) {
        t /= 2;
        ++squarings;
    }
    const uint32_t top = CT_Public(CtSignificantDigits(d, digits)) - 1;
    uint32_t start[mont::kMaxLimbs * mont::kDigitsPerLimb] = {};
    start[top] = 1;
    Limb x[mont::kMaxLimbs] = {};
    mont::FromDigits(x, s->limbs, start, digits);
    for (size_t i = 32 * top; i < b + t; ++i) mont::Add(x, x, x, s->m, s->limbs);
    for (size_t i = 0; i < squarings; ++i) Sqr(*s, x, x);
    std::memcpy(s->rr, x, sizeof x);
    // R^2 mod d gives d away to anyone who knows a multiple of it.
    SecureZero(x, sizeof x);
}

void CtModulus_InitPublic(CtModulus* s, const uint32_t* d, uint32_t digits)
{
    SetModulus(s, d, digits);
    const uint32_t padded = uint32_t(s->limbs * mont::kDigitsPerLimb);
    uint32_t r2[2 * (BIGNUM_MAX_DIGITS + 1) + 2] = {};
    r2[2 * padded] = 1;
    uint32_t rr[BIGNUM_MAX_DIGITS + 1];
    BigNum_Mod(rr, r2, 2 * padded + 1, d, digits);
    mont::FromDigits(s->rr, s->limbs, rr, digits);
}

void CtModulus_Reduce(const CtModulus& s, uint32_t* a, const uint32_t* b, uint32_t bDigits)
{
    // b = H R + L with H below d: b R = H R^2 + L R, both made by one
    // Montgomery product each.
    const size_t half = s.limbs * mont::kDigitsPerLimb;
    uint32_t low[2 * mont::kMaxLimbs * mont::kDigitsPerLimb] = {},
                                       high[2 * mont::kMaxLimbs * mont::kDigitsPerLimb] = {};
    for (uint32_t i = 0; i < bDigits; ++i) (i < half ? low[i] : high[i - half]) = b[i];
    Limb l[mont::kMaxLimbs] = {}, h[mont::kMaxLimbs] = {}, r3[mont::kMaxLimbs];
    mont::FromDigits(l, s.limbs, low, uint32_t(half));
    mont::FromDigits(h, s.limbs, high, uint32_t(half));
    Mul(s, r3, s.rr, s.rr);
    Mul(s, h, h, r3);
    Mul(s, l, l, s.rr);
    mont::Add(l, l, h, s.m, s.limbs);
    FromMont(s, a, l);
    SecureZeroAll(low, high, l, h, r3);
}

void CtModulus_Mul(const CtModulus& s, uint32_t* a, const uint32_t* b, const uint32_t* c)
{
    Limb x[mont::kMaxLimbs], y[mont::kMaxLimbs];
    ToLimbs(s, x, b);
    ToLimbs(s, y, c);
    Mul(s, x, x, y);    // b c R^-1
    Mul(s, x, x, s.rr); // b c
    FromLimbs(s, a, x);
    SecureZeroAll(x, y);
}

void CtModulus_Sub(const CtModulus& s, uint32_t* a, const uint32_t* b, const uint32_t* c)
{
    Limb x[mont::kMaxLimbs], y[mont::kMaxLimbs];
    ToLimbs(s, x, b);
    ToLimbs(s, y, c);
    mont::Sub(x, x, y, s.m, s.limbs);
    FromLimbs(s, a, x);
    SecureZeroAll(x, y);
}

void CtModulus_Exp(const CtModulus& s, uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t cDigits)
{
    Limb table[kEntries][mont::kMaxLimbs];
    Limb one[mont::kMaxLimbs] = {1};
    Mul(s, table[0], one, s.rr);
    ToLimbs(s, table[1], b);
    Mul(s, table[1], table[1], s.rr);
    for (unsigned i = 2; i < kEntries; ++i) Mul(s, table[i], table[i - 1], table[1]);

    Limb result[mont::kMaxLimbs], entry[mont::kMaxLimbs];
    // The halves of 2048- and 1024-bit moduli get loops of a size the
    // compiler knows.
    if (s.limbs == 2048 / 2 / mont::kLimbBits) {
        ExpWindows<2048 / 2 / mont::kLimbBits>(s, result, entry, table, c, cDigits);
    } else if (s.limbs == 1024 / 2 / mont::kLimbBits) {
        ExpWindows<1024 / 2 / mont::kLimbBits>(s, result, entry, table, c, cDigits);
    } else {
        ExpWindows<0>(s, result, entry, table, c, cDigits);
    }
    FromMont(s, a, result);
    SecureZeroAll(table, result, entry);
}

void CtModulus_ExpPublic(const CtModulus& s, uint32_t* a, const uint32_t* b, const uint32_t* e, uint32_t eDigits)
{
    Limb base[mont::kMaxLimbs], result[mont::kMaxLimbs], one[mont::kMaxLimbs] = {1};
    ToLimbs(s, base, b);
    Mul(s, base, base, s.rr);
    Mul(s, result, one, s.rr);
    for (uint32_t bit = BigNum_Bits(e, eDigits); bit-- > 0;) {
        Sqr(s, result, result);
        if ((e[bit / 32] >> (bit % 32)) & 1) Mul(s, result, result, base);
    }
    FromMont(s, a, result);
    SecureZeroAll(base, result);
}

uint32_t CtModulus_SquaresReach(const CtModulus& s, const uint32_t* b, const uint32_t* c, uint32_t count,
                                uint32_t bound)
{
    // Compared in Montgomery form, which is one-to-one below d.
    Limb x[mont::kMaxLimbs] = {}, target[mont::kMaxLimbs] = {};
    ToLimbs(s, x, b);
    Mul(s, x, x, s.rr);
    ToLimbs(s, target, c);
    Mul(s, target, target, s.rr);
    // A countdown rather than j < count, which the compiler would turn
    // into a loop split at count.
    Limb reached = 0, remaining = count;
    for (uint32_t j = 0; j < bound; ++j) {
        Limb diff = 0;
        for (size_t i = 0; i < s.limbs; ++i) diff |= x[i] ^ target[i];
        const Limb counted = ~CT_ZeroMask(remaining);
        reached |= CT_ZeroMask(diff) & counted;
        remaining -= counted & 1;
        if (j + 1 < bound) Sqr(s, x, x);
    }
    SecureZeroAll(x, target);
    return uint32_t(reached);
}

bool CtDigitsEqual(const uint32_t* a, const uint32_t* b, uint32_t digits)
{
    uint32_t diff = 0;
    for (uint32_t i = 0; i < digits; ++i) diff |= a[i] ^ b[i];
    return CT_ZeroMask(diff) != 0;
}

uint32_t CtSignificantDigits(const uint32_t* a, uint32_t digits)
{
    uint32_t count = 0;
    for (uint32_t i = 0; i < digits; ++i) {
        const uint32_t nonZero = ~CT_ZeroMask(a[i]);
        count = ((i + 1) & nonZero) | (count & ~nonZero);
    }
    return count;
}

} // namespace tokencrypto

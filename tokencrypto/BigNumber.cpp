#include "tokencrypto/BigNumber.h"

#include <cstring>

#include "tokencrypto/Montgomery.h"
#include "tokencrypto/SecureZero.h"

namespace tokencrypto {
namespace {

constexpr uint32_t kDigitBits = 32;
// Products of two numbers padded to a whole number of Montgomery limbs.
constexpr uint32_t kMaxProduct = 2 * (BIGNUM_MAX_DIGITS + 1) + 2;

uint32_t DigitBits(uint32_t a)
{
    uint32_t bits = 0;
    for (; a != 0; a >>= 1) ++bits;
    return bits;
}

// a = b << bits (bits < 32); returns the digit shifted out.
uint32_t LShift(uint32_t* a, const uint32_t* b, uint32_t bits, uint32_t digits)
{
    if (bits == 0) {
        std::memmove(a, b, digits * sizeof *a);
        return 0;
    }
    uint32_t carry = 0;
    for (uint32_t i = 0; i < digits; ++i) {
        const uint32_t v = b[i];
        a[i] = (v << bits) | carry;
        carry = v >> (kDigitBits - bits);
    }
    return carry;
}

void RShift(uint32_t* a, const uint32_t* b, uint32_t bits, uint32_t digits)
{
    if (bits == 0) {
        std::memmove(a, b, digits * sizeof *a);
        return;
    }
    uint32_t carry = 0;
    for (uint32_t i = digits; i-- > 0;) {
        const uint32_t v = b[i];
        a[i] = (v >> bits) | carry;
        carry = v << (kDigitBits - bits);
    }
}

constexpr unsigned kMaxWindowBits = 5;

// The window width costing the fewest multiplications for an exponent of
// this length: building the table against one per window. Short public
// exponents take narrow windows, private ones the widest.
unsigned WindowBits(uint32_t bits)
{
    unsigned best = 1;
    uint32_t bestCost = UINT32_MAX;
    for (unsigned width = 1; width <= kMaxWindowBits; ++width) {
        const uint32_t cost = (1u << width) - 2 + (bits + width - 1) / width;
        if (cost < bestCost) {
            best = width;
            bestCost = cost;
        }
    }
    return best;
}

// The `width` bits of c from bit `bit` up; bits past the top read as zero.
unsigned ExponentWindow(const uint32_t* c, uint32_t cDigits, uint32_t bit, unsigned width)
{
    const uint32_t index = bit / kDigitBits, shift = bit % kDigitBits;
    uint64_t pair = c[index];
    if (index + 1 < cDigits) pair |= uint64_t(c[index + 1]) << kDigitBits;
    return unsigned(pair >> shift) & ((1u << width) - 1);
}

// Odd moduli (every RSA modulus and prime candidate) take Montgomery
// arithmetic with a fixed window: every window costs the same squarings
// and one multiplication, whatever its bits.
void MontgomeryExp(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t cDigits, const uint32_t* d,
                   uint32_t dDigits)
{
    using mont::Limb;
    const uint32_t nd = BigNum_Digits(d, dDigits);
    const size_t limbs = (nd + mont::kDigitsPerLimb - 1) / mont::kDigitsPerLimb;
    const uint32_t padded = uint32_t(limbs * mont::kDigitsPerLimb);

    // R^2 mod d with R = 2^(32 padded).
    uint32_t r2[kMaxProduct] = {};
    r2[2 * padded] = 1;
    uint32_t rrDigits[BIGNUM_MAX_DIGITS + 1];
    BigNum_Mod(rrDigits, r2, 2 * padded + 1, d, nd);
    uint32_t base[BIGNUM_MAX_DIGITS + 1];
    BigNum_Mod(base, b, dDigits, d, nd);

    Limb m[mont::kMaxLimbs], rr[mont::kMaxLimbs], one[mont::kMaxLimbs] = {1};
    mont::FromDigits(m, limbs, d, nd);
    mont::FromDigits(rr, limbs, rrDigits, nd);
    const Limb m0inv = mont::NegInverse(m[0]);

    const uint32_t bits = BigNum_Bits(c, cDigits);
    const unsigned width = WindowBits(bits);
    const unsigned entries = 1u << width;

    // table[i] = base^i, in Montgomery form.
    Limb table[1u << kMaxWindowBits][mont::kMaxLimbs];
    mont::Mul(table[0], one, rr, m, m0inv, limbs);
    mont::FromDigits(table[1], limbs, base, nd);
    mont::Mul(table[1], table[1], rr, m, m0inv, limbs);
    for (unsigned i = 2; i < entries; ++i) mont::Mul(table[i], table[i - 1], table[1], m, m0inv, limbs);

    // The top window starts the result, which saves squaring the one.
    uint32_t w = (bits + width - 1) / width;
    Limb result[mont::kMaxLimbs];
    std::memcpy(result, table[w == 0 ? 0 : ExponentWindow(c, cDigits, --w * width, width)], sizeof result);
    while (w-- > 0) {
        for (unsigned s = 0; s < width; ++s) mont::Sqr(result, result, m, m0inv, limbs);
        mont::Mul(result, result, table[ExponentWindow(c, cDigits, w * width, width)], m, m0inv, limbs);
    }
    mont::Mul(result, result, one, m, m0inv, limbs);
    BigNum_AssignZero(a, dDigits);
    mont::ToDigits(a, nd, result);
    SecureZero(table, sizeof table);
    SecureZero(result, sizeof result);
}

// Square-and-multiply for even moduli, which no RSA operation meets.
void PlainExp(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t cDigits, const uint32_t* d, uint32_t dDigits)
{
    uint32_t base[BIGNUM_MAX_DIGITS], result[BIGNUM_MAX_DIGITS];
    BigNum_Mod(base, b, dDigits, d, dDigits);
    BigNum_AssignDigit(result, 1, dDigits);
    BigNum_Mod(result, result, dDigits, d, dDigits);
    for (uint32_t bit = BigNum_Bits(c, cDigits); bit-- > 0;) {
        BigNum_ModMul(result, result, result, d, dDigits);
        if ((c[bit / kDigitBits] >> (bit % kDigitBits)) & 1) BigNum_ModMul(result, result, base, d, dDigits);
    }
    BigNum_Assign(a, result, dDigits);
}

} // namespace

void BigNum_Decode(uint32_t* a, uint32_t digits, const uint8_t* b, uint32_t length)
{
    int64_t j = int64_t(length) - 1;
    for (uint32_t i = 0; i < digits; ++i) {
        uint32_t t = 0;
        for (uint32_t u = 0; j >= 0 && u < kDigitBits; --j, u += 8) t |= uint32_t(b[j]) << u;
        a[i] = t;
    }
}

void BigNum_Encode(uint8_t* a, uint32_t length, const uint32_t* b, uint32_t digits)
{
    int64_t j = int64_t(length) - 1;
    for (uint32_t i = 0; i < digits && j >= 0; ++i) {
        const uint32_t t = b[i];
        for (uint32_t u = 0; j >= 0 && u < kDigitBits; --j, u += 8) a[j] = uint8_t(t >> u);
    }
    for (; j >= 0; --j) a[j] = 0;
}

void BigNum_AssignZero(uint32_t* a, uint32_t digits)
{
    std::memset(a, 0, digits * sizeof *a);
}

void BigNum_AssignDigit(uint32_t* a, uint32_t b, uint32_t digits)
{
    BigNum_AssignZero(a, digits);
    if (digits > 0) a[0] = b;
}

void BigNum_Assign(uint32_t* a, const uint32_t* b, uint32_t digits)
{
    std::memmove(a, b, digits * sizeof *a);
}

bool BigNum_IsZero(const uint32_t* a, uint32_t digits)
{
    return BigNum_Digits(a, digits) == 0;
}

uint32_t BigNum_Digits(const uint32_t* a, uint32_t digits)
{
    while (digits > 0 && a[digits - 1] == 0) --digits;
    return digits;
}

uint32_t BigNum_Bits(const uint32_t* a, uint32_t digits)
{
    const uint32_t n = BigNum_Digits(a, digits);
    return n == 0 ? 0 : (n - 1) * kDigitBits + DigitBits(a[n - 1]);
}

int BigNum_Cmp(const uint32_t* a, const uint32_t* b, uint32_t digits)
{
    for (uint32_t i = digits; i-- > 0;) {
        if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
    }
    return 0;
}

uint32_t BigNum_Add(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits)
{
    uint64_t carry = 0;
    for (uint32_t i = 0; i < digits; ++i) {
        carry += uint64_t(b[i]) + c[i];
        a[i] = uint32_t(carry);
        carry >>= 32;
    }
    return uint32_t(carry);
}

uint32_t BigNum_Sub(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits)
{
    uint32_t borrow = 0;
    for (uint32_t i = 0; i < digits; ++i) {
        const uint64_t diff = uint64_t(b[i]) - c[i] - borrow;
        a[i] = uint32_t(diff);
        borrow = uint32_t(diff >> 63);
    }
    return borrow;
}

uint32_t BigNum_AddDigitMul(uint32_t* a, const uint32_t* b, uint32_t c, const uint32_t* d, uint32_t digits)
{
    uint64_t carry = 0;
    for (uint32_t i = 0; i < digits; ++i) {
        carry += uint64_t(c) * d[i] + b[i];
        a[i] = uint32_t(carry);
        carry >>= 32;
    }
    return uint32_t(carry);
}

uint32_t BigNum_SubDigitMul(uint32_t* a, const uint32_t* b, uint32_t c, const uint32_t* d, uint32_t digits)
{
    uint32_t borrow = 0;
    for (uint32_t i = 0; i < digits; ++i) {
        const uint64_t product = uint64_t(c) * d[i] + borrow;
        const uint32_t low = uint32_t(product);
        borrow = uint32_t(product >> 32) + (b[i] < low ? 1 : 0);
        a[i] = b[i] - low;
    }
    return borrow;
}

uint32_t BigNum_DigitDiv(const uint32_t b[2], uint32_t c)
{
    return uint32_t(((uint64_t(b[1]) << 32) | b[0]) / c);
}

void BigNum_Mul(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits)
{
    uint32_t t[kMaxProduct] = {};
    const uint32_t bDigits = BigNum_Digits(b, digits);
    const uint32_t cDigits = BigNum_Digits(c, digits);
    for (uint32_t i = 0; i < bDigits; ++i) {
        if (b[i] != 0) t[i + cDigits] += BigNum_AddDigitMul(&t[i], &t[i], b[i], c, cDigits);
    }
    BigNum_Assign(a, t, 2 * digits);
}

void BigNum_Div(uint32_t* q, uint32_t* r, const uint32_t* c, uint32_t cDigits, const uint32_t* d, uint32_t dDigits)
{
    const uint32_t dd = BigNum_Digits(d, dDigits);
    if (dd == 0) return;
    // Normalise so that the divisor's top digit has its top bit set.
    const uint32_t shift = kDigitBits - DigitBits(d[dd - 1]);
    uint32_t cc[kMaxProduct + 1] = {};
    uint32_t divisor[BIGNUM_MAX_DIGITS + 1] = {};
    cc[cDigits] = LShift(cc, c, shift, cDigits);
    LShift(divisor, d, shift, dd);
    const uint32_t top = divisor[dd - 1];
    if (q != nullptr) BigNum_AssignZero(q, cDigits);
    for (int64_t i = int64_t(cDigits) - dd; i >= 0; --i) {
        uint32_t* window = &cc[i];
        uint32_t estimate = top == UINT32_MAX ? window[dd] : BigNum_DigitDiv(&window[dd - 1], top + 1);
        window[dd] -= BigNum_SubDigitMul(window, window, estimate, divisor, dd);
        while (window[dd] != 0 || BigNum_Cmp(window, divisor, dd) >= 0) {
            ++estimate;
            window[dd] -= BigNum_Sub(window, window, divisor, dd);
        }
        if (q != nullptr) q[i] = estimate;
    }
    BigNum_AssignZero(r, dDigits);
    RShift(r, cc, shift, dd);
    SecureZero(cc, sizeof cc);
}

void BigNum_Mod(uint32_t* a, const uint32_t* b, uint32_t bDigits, const uint32_t* d, uint32_t dDigits)
{
    BigNum_Div(nullptr, a, b, bDigits, d, dDigits);
}

void BigNum_ModMul(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* d, uint32_t digits)
{
    uint32_t t[kMaxProduct];
    BigNum_Mul(t, b, c, digits);
    BigNum_Mod(a, t, 2 * digits, d, digits);
}

void BigNum_ModExp(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t cDigits, const uint32_t* d,
                   uint32_t dDigits)
{
    if (d[0] & 1) {
        MontgomeryExp(a, b, c, cDigits, d, dDigits);
    } else {
        PlainExp(a, b, c, cDigits, d, dDigits);
    }
}

void BigNum_ModInv(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits)
{
    // Extended Euclid keeping only the coefficient of b, whose sign
    // alternates with each step.
    uint32_t u1[BIGNUM_MAX_DIGITS], v1[BIGNUM_MAX_DIGITS], u3[BIGNUM_MAX_DIGITS], v3[BIGNUM_MAX_DIGITS];
    uint32_t q[BIGNUM_MAX_DIGITS], t1[BIGNUM_MAX_DIGITS], t3[BIGNUM_MAX_DIGITS], w[kMaxProduct];
    BigNum_AssignDigit(u1, 1, digits);
    BigNum_AssignZero(v1, digits);
    BigNum_Assign(u3, b, digits);
    BigNum_Assign(v3, c, digits);
    bool negative = false;
    while (!BigNum_IsZero(v3, digits)) {
        BigNum_Div(q, t3, u3, digits, v3, digits);
        BigNum_Mul(w, q, v1, digits);
        BigNum_Add(t1, u1, w, digits);
        BigNum_Assign(u1, v1, digits);
        BigNum_Assign(v1, t1, digits);
        BigNum_Assign(u3, v3, digits);
        BigNum_Assign(v3, t3, digits);
        negative = !negative;
    }
    if (negative) {
        BigNum_Sub(a, c, u1, digits);
    } else {
        BigNum_Assign(a, u1, digits);
    }
}

void BigNum_Gcd(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits)
{
    uint32_t x[BIGNUM_MAX_DIGITS], y[BIGNUM_MAX_DIGITS], t[BIGNUM_MAX_DIGITS];
    BigNum_Assign(x, b, digits);
    BigNum_Assign(y, c, digits);
    while (!BigNum_IsZero(y, digits)) {
        BigNum_Mod(t, x, digits, y, digits);
        BigNum_Assign(x, y, digits);
        BigNum_Assign(y, t, digits);
    }
    BigNum_Assign(a, x, digits);
}

} // namespace tokencrypto

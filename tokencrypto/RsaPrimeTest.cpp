#include "tokencrypto/RsaPrimeTest.h"

#include "tokencrypto/BigNumber.h"
#include "tokencrypto/ConstantTime.h"
#include "tokencrypto/CtModulus.h"
#include "tokencrypto/Rsa.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/SmallModulus.h"

namespace tokencrypto {
namespace {

constexpr uint32_t kPrimeDigits = RSA_MAX_PRIME_LEN / 4 + 1;

// Odd primes below 1000, for trial division before the costly tests.
struct SmallPrimes {
    uint16_t values[200];
    unsigned count;
    constexpr SmallPrimes() : values(), count(0)
    {
        for (uint16_t candidate = 3; candidate < 1000; candidate += 2) {
            bool prime = true;
            for (uint16_t d = 3; d * d <= candidate; d += 2) {
                if (candidate % d == 0) prime = false;
            }
            if (prime) values[count++] = candidate;
        }
    }
};
constexpr SmallPrimes kSmallPrimes;

// Below the table's end a is answered from the table.
bool IsSmall(const uint32_t* a, uint32_t digits)
{
    uint32_t high = 0;
    for (uint32_t i = 1; i < digits; ++i) high |= a[i];
    return CT_Public((high == 0) & (a[0] < 1000));
}

bool IsSmallPrime(uint32_t a)
{
    for (unsigned i = 0; i < kSmallPrimes.count; ++i) {
        if (kSmallPrimes.values[i] == a) return true;
    }
    return a == 2;
}

bool HasSmallFactor(const uint32_t* a, uint32_t digits)
{
    for (unsigned i = 0; i < kSmallPrimes.count; ++i) {
        const uint32_t remainder = SmallModulus_Of(SmallModulus_Make(kSmallPrimes.values[i]), a, digits);
        if (CT_Public(remainder == 0)) return true;
    }
    return false;
}

bool PassesFermat(const uint32_t* a, uint32_t digits)
{
    CtModulus modA;
    CtModulus_Init(&modA, a, digits);
    uint32_t two[kPrimeDigits], t[kPrimeDigits];
    BigNum_AssignDigit(two, 2, digits);
    CtModulus_Exp(modA, t, two, a, digits);
    const bool passes = CT_Public(CtDigitsEqual(t, two, digits));
    SecureZeroAll(modA, t);
    return passes;
}

// Rounds for an error below 2^-100 on random candidates, at least the
// counts FIPS 186-4 asks for at these sizes.
unsigned MillerRabinRounds(uint32_t bits)
{
    return bits >= 1024 ? 5 : bits >= 512 ? 8 : 40;
}

// Bits up to the top set one, counted over every bit.
uint32_t CtBitLength(const uint32_t* a, uint32_t digits)
{
    uint32_t length = 0;
    for (uint32_t bit = 0; bit < 32 * digits; ++bit) {
        const uint32_t set = 0u - ((a[bit / 32] >> (bit % 32)) & 1);
        length = ((bit + 1) & set) | (length & ~set);
    }
    return length;
}

// Zero bits below the lowest set one of a non-zero a.
uint32_t CtTrailingZeros(const uint32_t* a, uint32_t digits)
{
    uint32_t count = 0, onlyZeros = ~0u;
    for (uint32_t bit = 0; bit < 32 * digits; ++bit) {
        onlyZeros &= ((a[bit / 32] >> (bit % 32)) & 1) - 1;
        count += onlyZeros & 1;
    }
    return count;
}

// a >>= shift for a secret shift below 32 digits: a shift by each power of
// two, kept or dropped by a mask.
void CtShiftRight(uint32_t* a, uint32_t shift, uint32_t digits)
{
    uint32_t t[kPrimeDigits];
    for (uint32_t k = 0; (1u << k) < 32 * digits; ++k) {
        const uint32_t words = (1u << k) / 32, bits = (1u << k) % 32;
        for (uint32_t i = 0; i < digits; ++i) {
            const uint32_t low = i + words < digits ? a[i + words] : 0;
            const uint32_t high = i + words + 1 < digits ? a[i + words + 1] : 0;
            t[i] = bits == 0 ? low : (low >> bits) | (high << (32 - bits));
        }
        const uint32_t take = 0u - ((shift >> k) & 1);
        for (uint32_t i = 0; i < digits; ++i) a[i] = (t[i] & take) | (a[i] & ~take);
    }
    SecureZero(t, sizeof t);
}

// A base in [2, a - 2]: a wide draw reduced modulo a, drawn again in the
// rare case that it lands on 0, 1 or a - 1, which tells nothing about a.
uint32_t DrawBase(uint32_t* base, const CtModulus& modA, const uint32_t* aMinus1, uint32_t digits, RandomPool* pool)
{
    // Below a R, whatever a's top digits are.
    const uint32_t wideDigits = CT_Public(CtSignificantDigits(aMinus1, digits)) - 1 + digits;
    for (unsigned draw = 0; draw < RANDOM_MAX_DRAWS; ++draw) {
        uint8_t bytes[8 * kPrimeDigits];
        uint32_t wide[2 * kPrimeDigits];
        const uint32_t result = RandomPool_GenerateBytes(bytes, 4 * wideDigits, pool);
        if (result != RSA_OK) return result;
        BigNum_Decode(wide, wideDigits, bytes, 4 * wideDigits);
        CtModulus_Reduce(modA, base, wide, wideDigits);
        SecureZeroAll(bytes, wide);
        uint32_t high = 0;
        for (uint32_t i = 1; i < digits; ++i) high |= base[i];
        const bool unfit = CT_Public((CT_ZeroMask(high | (base[0] >> 1)) != 0) | CtDigitsEqual(base, aMinus1, digits));
        if (!unfit) return RSA_OK;
    }
    return RSA_ERR_NEED_RANDOM;
}

// Miller-Rabin: a - 1 = 2^s r with r odd; a base passes when base^r is 1,
// or reaches a - 1 within s - 1 squarings. Every round squares as often as
// the largest s would need, so that s stays secret.
uint32_t PassesMillerRabin(bool* passes, const uint32_t* a, uint32_t digits, RandomPool* pool)
{
    uint32_t one[kPrimeDigits], aMinus1[kPrimeDigits], r[kPrimeDigits];
    BigNum_AssignDigit(one, 1, digits);
    BigNum_Sub(aMinus1, a, one, digits);
    const uint32_t s = CtTrailingZeros(aMinus1, digits);
    BigNum_Assign(r, aMinus1, digits);
    CtShiftRight(r, s, digits);

    CtModulus modA;
    CtModulus_Init(&modA, a, digits);
    *passes = true;
    const unsigned rounds = MillerRabinRounds(CT_Public(CtBitLength(a, digits)));
    uint32_t result = RSA_OK;
    for (unsigned round = 0; round < rounds && *passes && result == RSA_OK; ++round) {
        uint32_t base[kPrimeDigits], y[kPrimeDigits];
        result = DrawBase(base, modA, aMinus1, digits, pool);
        if (result != RSA_OK) break;
        CtModulus_Exp(modA, y, base, r, digits);
        const uint32_t reached = CtModulus_SquaresReach(modA, y, aMinus1, s, 32 * digits - 1);
        *passes = CT_Public((0u - uint32_t(CtDigitsEqual(y, one, digits))) | reached) != 0;
        SecureZeroAll(base, y);
    }
    SecureZeroAll(aMinus1, r, modA);
    return result;
}

} // namespace

uint32_t RsaPrime_Test(bool* passes, const uint32_t* a, uint32_t digits, RandomPool* pool)
{
    if (IsSmall(a, digits)) {
        *passes = IsSmallPrime(a[0]);
        return RSA_OK;
    }
    *passes = false;
    if (CT_Public(a[0] & 1) == 0 || HasSmallFactor(a, digits) || !PassesFermat(a, digits)) return RSA_OK;
    return PassesMillerRabin(passes, a, digits, pool);
}

} // namespace tokencrypto

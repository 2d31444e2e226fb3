#include "tokencrypto/Rsa.h"

#include <cstring>

#include "tokencrypto/BigNumber.h"
#include "tokencrypto/ConstantTime.h"
#include "tokencrypto/CtModulus.h"
#include "tokencrypto/SecureZero.h"

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

uint32_t ModDigit(const uint32_t* a, uint32_t digits, uint32_t divisor)
{
    uint64_t remainder = 0;
    for (uint32_t i = digits; i-- > 0;) remainder = ((remainder << 32) | a[i]) % divisor;
    return uint32_t(remainder);
}

// A one-digit a equal to a small prime is itself prime.
bool HasSmallFactor(const uint32_t* a, uint32_t digits)
{
    const bool oneDigit = BigNum_Digits(a, digits) <= 1;
    for (unsigned i = 0; i < kSmallPrimes.count; ++i) {
        const uint32_t prime = kSmallPrimes.values[i];
        if (oneDigit && a[0] == prime) return false;
        if (ModDigit(a, digits, prime) == 0) return true;
    }
    return false;
}

// The candidate may become a prime of the key: its tests run in constant
// time and only their verdicts are made public.
bool PassesFermat(const uint32_t* a, uint32_t digits)
{
    if ((a[0] & 1) == 0) return false;
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

// Miller-Rabin with bases drawn from the pool in [2, a - 2].
uint32_t PassesMillerRabin(bool* passes, const uint32_t* a, uint32_t digits, RandomPool* pool)
{
    uint32_t one[kPrimeDigits], aMinus1[kPrimeDigits], r[kPrimeDigits], range[kPrimeDigits];
    BigNum_AssignDigit(one, 1, digits);
    BigNum_Sub(aMinus1, a, one, digits);
    uint32_t s = 0;
    while (((aMinus1[s / 32] >> (s % 32)) & 1) == 0) ++s;
    BigNum_Assign(r, aMinus1, digits);
    for (uint32_t shifted = 0; shifted < s; ++shifted) {
        for (uint32_t i = 0; i < digits; ++i) r[i] = (r[i] >> 1) | (i + 1 < digits ? r[i + 1] << 31 : 0);
    }
    uint32_t three[kPrimeDigits];
    BigNum_AssignDigit(three, 3, digits);
    BigNum_Sub(range, a, three, digits); // bases 2 .. a - 2

    CtModulus modA;
    CtModulus_Init(&modA, a, digits);
    *passes = true;
    const unsigned rounds = MillerRabinRounds(BigNum_Bits(a, digits));
    for (unsigned round = 0; round < rounds && *passes; ++round) {
        uint8_t bytes[4 * kPrimeDigits];
        const uint32_t result = RandomPool_GenerateBytes(bytes, 4 * digits, pool);
        if (result != RSA_OK) return result;
        uint32_t base[kPrimeDigits], y[kPrimeDigits];
        BigNum_Decode(base, digits, bytes, 4 * digits);
        BigNum_Mod(base, base, digits, range, digits);
        uint32_t two[kPrimeDigits];
        BigNum_AssignDigit(two, 2, digits);
        BigNum_Add(base, base, two, digits);
        CtModulus_Exp(modA, y, base, r, digits);
        if (CT_Public(CtDigitsEqual(y, one, digits) | CtDigitsEqual(y, aMinus1, digits))) continue;
        bool witnessed = true;
        for (uint32_t j = 1; j < s && witnessed; ++j) {
            CtModulus_Mul(modA, y, y, y);
            if (CT_Public(CtDigitsEqual(y, aMinus1, digits))) witnessed = false;
        }
        *passes = !witnessed;
    }
    return RSA_OK;
}

// 2^(bits - 1) + 2^(bits - 2) and 2^bits - 1: the candidates whose two top
// bits are set, so that p q has the full size.
void PrimeBounds(uint32_t* lower, uint32_t* upper, uint32_t bits, uint32_t digits)
{
    BigNum_AssignZero(lower, digits);
    BigNum_AssignZero(upper, digits);
    lower[(bits - 1) / 32] |= 1u << ((bits - 1) % 32);
    lower[(bits - 2) / 32] |= 1u << ((bits - 2) % 32);
    for (uint32_t bit = 0; bit < bits; ++bit) upper[bit / 32] |= 1u << (bit % 32);
}

uint32_t GeneratePrimeCoprime(uint32_t* prime, uint32_t bits, const uint32_t* e, uint32_t digits, RandomPool* pool)
{
    uint32_t lower[kPrimeDigits], upper[kPrimeDigits], step[kPrimeDigits], one[kPrimeDigits];
    uint32_t pMinus1[kPrimeDigits], gcd[kPrimeDigits];
    PrimeBounds(lower, upper, bits, digits);
    BigNum_AssignDigit(step, 2, digits);
    BigNum_AssignDigit(one, 1, digits);
    for (;;) {
        const uint32_t result = RSA_GeneratePrime(prime, lower, upper, step, digits, pool);
        if (result != RSA_OK) return result;
        BigNum_Sub(pMinus1, prime, one, digits);
        BigNum_Gcd(gcd, pMinus1, e, digits);
        if (BigNum_Cmp(gcd, one, digits) == 0) return RSA_OK;
    }
}

void Place(uint8_t* field, uint32_t fieldLength, const uint32_t* value, uint32_t digits)
{
    BigNum_Encode(field, fieldLength, value, digits);
}

} // namespace

uint32_t RSA_GeneratePrime(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* s, uint32_t digits,
                           RandomPool* pool)
{
    if (pool->bytesNeeded != 0) return RSA_ERR_NEED_RANDOM;
    uint8_t bytes[4 * kPrimeDigits];
    uint32_t result = RandomPool_GenerateBytes(bytes, 4 * digits, pool);
    if (result != RSA_OK) return result;
    uint32_t t[kPrimeDigits], u[kPrimeDigits], v[kPrimeDigits], one[kPrimeDigits];
    BigNum_Decode(t, digits, bytes, 4 * digits);
    SecureZero(bytes, sizeof bytes);

    // a = b + (t mod (c - b + 1))
    BigNum_AssignDigit(one, 1, digits);
    BigNum_Sub(u, c, b, digits);
    BigNum_Add(u, u, one, digits);
    BigNum_Mod(v, t, digits, u, digits);
    BigNum_Add(t, v, b, digits);

    // a - 1 a multiple of s, kept inside [b, c].
    BigNum_Mod(v, t, digits, s, digits);
    BigNum_Sub(t, t, v, digits);
    BigNum_Add(t, t, one, digits);
    if (BigNum_Cmp(t, b, digits) < 0) BigNum_Add(t, t, s, digits);
    if (BigNum_Cmp(t, c, digits) > 0) BigNum_Sub(t, t, s, digits);

    BigNum_Sub(u, c, s, digits);
    for (;;) {
        if (!HasSmallFactor(t, digits) && PassesFermat(t, digits)) {
            bool passes = false;
            result = PassesMillerRabin(&passes, t, digits, pool);
            if (result != RSA_OK) return result;
            if (passes) break;
        }
        if (BigNum_Cmp(t, u, digits) > 0) return RSA_ERR_DATA;
        BigNum_Add(t, t, s, digits);
    }
    BigNum_Assign(a, t, digits);
    SecureZero(t, sizeof t);
    return RSA_OK;
}

uint32_t RSA_GenerateKeyPair(RsaPublicKey* publicKey, RsaPrivateKey* privateKey, const RsaKeyGenParams* params,
                             RandomPool* pool)
{
    const uint32_t bits = params->bits;
    if (bits < RSA_MIN_MODULUS_BITS || bits > RSA_MAX_MODULUS_BITS) return RSA_ERR_MODULUS_LEN;
    const uint32_t nDigits = (bits + 31) / 32;
    const uint32_t pDigits = (nDigits + 1) / 2;
    const uint32_t pBits = (bits + 1) / 2;
    const uint32_t qBits = bits - pBits;

    uint32_t e[BIGNUM_MAX_DIGITS];
    BigNum_AssignDigit(e, params->useFermat4 ? 65537 : 3, nDigits);
    uint32_t p[kPrimeDigits], q[kPrimeDigits];
    uint32_t result = GeneratePrimeCoprime(p, pBits, e, pDigits, pool);
    if (result == RSA_OK) result = GeneratePrimeCoprime(q, qBits, e, pDigits, pool);
    if (result != RSA_OK) return result;
    if (BigNum_Cmp(p, q, pDigits) < 0) {
        uint32_t t[kPrimeDigits];
        BigNum_Assign(t, p, pDigits);
        BigNum_Assign(p, q, pDigits);
        BigNum_Assign(q, t, pDigits);
    }

    uint32_t n[BIGNUM_MAX_DIGITS] = {}, phi[BIGNUM_MAX_DIGITS] = {}, d[BIGNUM_MAX_DIGITS] = {};
    uint32_t one[kPrimeDigits], pMinus1[kPrimeDigits], qMinus1[kPrimeDigits];
    uint32_t qInv[kPrimeDigits], dP[kPrimeDigits], dQ[kPrimeDigits];
    BigNum_Mul(n, p, q, pDigits);
    BigNum_ModInv(qInv, q, p, pDigits);
    BigNum_AssignDigit(one, 1, pDigits);
    BigNum_Sub(pMinus1, p, one, pDigits);
    BigNum_Sub(qMinus1, q, one, pDigits);
    BigNum_Mul(phi, pMinus1, qMinus1, pDigits);
    BigNum_ModInv(d, e, phi, nDigits);
    BigNum_Mod(dP, d, nDigits, pMinus1, pDigits);
    BigNum_Mod(dQ, d, nDigits, qMinus1, pDigits);

    std::memset(publicKey, 0, sizeof *publicKey);
    std::memset(privateKey, 0, sizeof *privateKey);
    publicKey->bits = privateKey->bits = bits;
    Place(publicKey->modulus, RSA_MAX_MODULUS_LEN, n, nDigits);
    Place(publicKey->exponent, RSA_MAX_MODULUS_LEN, e, nDigits);
    std::memcpy(privateKey->modulus, publicKey->modulus, RSA_MAX_MODULUS_LEN);
    std::memcpy(privateKey->publicExponent, publicKey->exponent, RSA_MAX_MODULUS_LEN);
    Place(privateKey->exponent, RSA_MAX_MODULUS_LEN, d, nDigits);
    Place(privateKey->prime[0], RSA_MAX_PRIME_LEN, p, pDigits);
    Place(privateKey->prime[1], RSA_MAX_PRIME_LEN, q, pDigits);
    Place(privateKey->primeExponent[0], RSA_MAX_PRIME_LEN, dP, pDigits);
    Place(privateKey->primeExponent[1], RSA_MAX_PRIME_LEN, dQ, pDigits);
    Place(privateKey->coefficient, RSA_MAX_PRIME_LEN, qInv, pDigits);

    SecureZeroAll(p, q, d, phi, dP, dQ, qInv);
    return RSA_OK;
}

uint32_t RSA_GenerateKey(uint32_t bits, RsaPublicKey* publicKey, RsaPrivateKey* privateKey)
{
    if (bits < RSA_MIN_MODULUS_BITS) return RSA_ERR_MODULUS_LEN;
    // The key stream that seeds the pool is keyed by the system generator;
    // without it there is no seed, and no key.
    Rc4State* rc4 = RC4_NewFromSystemRandom();
    if (rc4 == nullptr) return RSA_ERR_NEED_RANDOM;
    RandomPool pool = {};
    pool.bytesNeeded = RANDOM_POOL_SEED_BYTES;
    while (pool.bytesNeeded != 0) {
        uint8_t block[16];
        for (uint8_t& byte : block) byte = RC4_NextByte(rc4);
        RandomPool_Update(&pool, block);
        SecureZero(block, sizeof block);
    }
    RC4_Free(rc4);
    const RsaKeyGenParams params = {bits, 65537};
    const uint32_t result = RSA_GenerateKeyPair(publicKey, privateKey, &params, &pool);
    SecureZero(&pool, sizeof pool);
    return result;
}

} // namespace tokencrypto

#include <cstring>

#include "tokencrypto/BigNumber.h"
#include "tokencrypto/ConstantTime.h"
#include "tokencrypto/Rsa.h"
#include "tokencrypto/RsaKeyFromPrimes.h"
#include "tokencrypto/RsaPrimeTest.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/SmallModulus.h"

namespace tokencrypto {
namespace {

constexpr uint32_t kPrimeDigits = RSA_MAX_PRIME_LEN / 4 + 1;
// Deeper than the calls of key generation reach, with room to spare.
constexpr size_t kStackBytes = 32 * 1024;
// Draws per bit of the upper bound before the search gives up. About one
// in 0.35 B odd numbers of B bits is prime, and at most half the draws are
// thrown away: 32 B draws find none with a chance below 2^-64.
constexpr uint32_t kDrawsPerBit = 32;

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

// e is prime, so p - 1 and e are coprime unless p = 1 mod e, which a
// fresh prime meets at most half the time.
uint32_t GeneratePrimeCoprime(uint32_t* prime, uint32_t bits, uint32_t e, uint32_t digits, RandomPool* pool)
{
    uint32_t lower[kPrimeDigits], upper[kPrimeDigits], step[kPrimeDigits];
    PrimeBounds(lower, upper, bits, digits);
    BigNum_AssignDigit(step, 2, digits);
    const SmallModulus modE = SmallModulus_Make(e);
    for (unsigned draw = 0; draw < RANDOM_MAX_DRAWS; ++draw) {
        const uint32_t result = RSA_GeneratePrime(prime, lower, upper, step, digits, pool);
        if (result != RSA_OK) return result;
        if (CT_Public(SmallModulus_Of(modE, prime, digits) != 1)) return RSA_OK;
    }
    return RSA_ERR_DATA;
}

// The candidates of [b, c], the values 1 + s j for j in [low, low + span]:
// public, as the bounds and the step are.
struct Candidates {
    uint32_t step[kPrimeDigits];
    uint32_t low[kPrimeDigits];
    uint32_t span[kPrimeDigits];
    uint32_t spanBits;
};

// False when [b, c] holds no candidate.
bool FindCandidates(Candidates* range, const uint32_t* b, const uint32_t* c, const uint32_t* s, uint32_t digits)
{
    if (BigNum_IsZero(s, digits) || BigNum_IsZero(c, digits) || BigNum_Cmp(b, c, digits) > 0) return false;
    uint32_t one[kPrimeDigits], t[kPrimeDigits], rest[kPrimeDigits], high[kPrimeDigits];
    BigNum_AssignDigit(one, 1, digits);
    BigNum_Assign(range->step, s, digits);
    // low = ceil((b - 1) / s), high = floor((c - 1) / s)
    BigNum_AssignZero(range->low, digits);
    if (!BigNum_IsZero(b, digits)) {
        BigNum_Sub(t, b, one, digits);
        BigNum_Div(range->low, rest, t, digits, s, digits);
        if (!BigNum_IsZero(rest, digits)) BigNum_Add(range->low, range->low, one, digits);
    }
    BigNum_Sub(t, c, one, digits);
    BigNum_Div(high, rest, t, digits, s, digits);
    if (BigNum_Sub(range->span, high, range->low, digits) != 0) return false;
    range->spanBits = BigNum_Bits(range->span, digits);
    return true;
}

// A candidate drawn uniformly from the range: j is drawn with the bits of
// span until it is not above it, which only throws a draw away. *drawn is
// false for such a draw.
uint32_t DrawCandidate(uint32_t* a, bool* drawn, const Candidates& range, uint32_t digits, RandomPool* pool)
{
    uint8_t bytes[4 * kPrimeDigits];
    const uint32_t result = RandomPool_GenerateBytes(bytes, 4 * digits, pool);
    if (result != RSA_OK) return result;
    uint32_t j[kPrimeDigits], above[kPrimeDigits], wide[2 * kPrimeDigits] = {1};
    BigNum_Decode(j, digits, bytes, 4 * digits);
    for (uint32_t bit = range.spanBits; bit < 32 * digits; ++bit) j[bit / 32] &= ~(1u << (bit % 32));
    *drawn = CT_Public(BigNum_Sub(above, range.span, j, digits) == 0);
    // a = 1 + s (low + j), every digit multiplied whether zero or not.
    BigNum_Add(j, j, range.low, digits);
    for (uint32_t i = 0; i < digits; ++i) {
        wide[i + digits] = BigNum_AddDigitMul(&wide[i], &wide[i], j[i], range.step, digits);
    }
    BigNum_Assign(a, wide, digits);
    SecureZeroAll(bytes, j, above, wide);
    return RSA_OK;
}

// Every candidate is drawn afresh: one stepped to from a rejected one
// would tell where the rejected ones stopped, and with that p modulo the
// small primes.
uint32_t SearchPrime(uint32_t* a, const Candidates& range, uint32_t draws, uint32_t digits, RandomPool* pool)
{
    uint32_t candidate[kPrimeDigits];
    uint32_t result = RSA_ERR_DATA;
    for (uint32_t draw = 0; draw < draws; ++draw) {
        bool drawn = false, passes = false;
        result = DrawCandidate(candidate, &drawn, range, digits, pool);
        if (result == RSA_OK && drawn) result = RsaPrime_Test(&passes, candidate, digits, pool);
        if (result != RSA_OK) break;
        if (passes) {
            BigNum_Assign(a, candidate, digits);
            break;
        }
        result = RSA_ERR_DATA;
    }
    SecureZero(candidate, sizeof candidate);
    return result;
}

} // namespace

uint32_t RSA_GeneratePrime(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* s, uint32_t digits,
                           RandomPool* pool)
{
    if (pool->bytesNeeded != 0) return RSA_ERR_NEED_RANDOM;
    Candidates range;
    if (digits == 0 || digits > kPrimeDigits || !FindCandidates(&range, b, c, s, digits)) return RSA_ERR_DATA;
    const uint32_t result = SearchPrime(a, range, kDrawsPerBit * BigNum_Bits(c, digits), digits, pool);
    SecureZeroStack<kStackBytes>();
    return result;
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

    // Both are prime, as the key assembly needs.
    const uint32_t e = params->useFermat4 ? 65537 : 3;
    uint32_t p[kPrimeDigits], q[kPrimeDigits];
    uint32_t result = GeneratePrimeCoprime(p, pBits, e, pDigits, pool);
    if (result == RSA_OK) result = GeneratePrimeCoprime(q, qBits, e, pDigits, pool);
    if (result == RSA_OK) RsaKey_FromPrimes(publicKey, privateKey, p, q, pDigits, bits, e);
    SecureZeroAll(p, q);
    SecureZeroStack<kStackBytes>();
    return result;
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

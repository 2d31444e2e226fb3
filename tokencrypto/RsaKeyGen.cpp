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
// The draws of the widest range: a range with fewer candidates than its
// draws has each tested once instead, from a list of at most this many.
constexpr uint32_t kMaxDraws = kDrawsPerBit * 32 * kPrimeDigits;

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

// a = 1 + s (low + j), every digit multiplied whether zero or not.
void CandidateAt(uint32_t* a, const uint32_t* j, const Candidates& range, uint32_t digits)
{
    uint32_t index[kPrimeDigits], wide[2 * kPrimeDigits] = {1};
    BigNum_Add(index, j, range.low, digits);
    for (uint32_t i = 0; i < digits; ++i) {
        wide[i + digits] = BigNum_AddDigitMul(&wide[i], &wide[i], index[i], range.step, digits);
    }
    BigNum_Assign(a, wide, digits);
    SecureZeroAll(index, wide);
}

// A candidate drawn uniformly from the range: j is drawn with the bits of
// span until it is not above it, which only throws a draw away. *drawn is
// false for such a draw.
uint32_t DrawCandidate(uint32_t* a, bool* drawn, const Candidates& range, uint32_t digits, RandomPool* pool)
{
    uint8_t bytes[4 * kPrimeDigits];
    const uint32_t result = RandomPool_GenerateBytes(bytes, 4 * digits, pool);
    if (result != RSA_OK) return result;
    uint32_t j[kPrimeDigits], above[kPrimeDigits];
    BigNum_Decode(j, digits, bytes, 4 * digits);
    for (uint32_t bit = range.spanBits; bit < 32 * digits; ++bit) j[bit / 32] &= ~(1u << (bit % 32));
    *drawn = CT_Public(BigNum_Sub(above, range.span, j, digits) == 0);
    CandidateAt(a, j, range, digits);
    SecureZeroAll(bytes, j, above);
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

// j uniform in [0, bound), bound at most kMaxDraws: drawn with the bits of
// bound - 1 until it falls below bound.
uint32_t DrawBelow(uint32_t* j, uint32_t bound, RandomPool* pool)
{
    uint32_t mask = 0;
    while (mask < bound - 1) mask = (mask << 1) | 1;
    for (unsigned draw = 0; draw < RANDOM_MAX_DRAWS; ++draw) {
        uint8_t bytes[4];
        const uint32_t result = RandomPool_GenerateBytes(bytes, sizeof bytes, pool);
        if (result != RSA_OK) return result;
        BigNum_Decode(j, 1, bytes, sizeof bytes);
        SecureZero(bytes, sizeof bytes);
        *j &= mask;
        if (CT_Public(*j < bound)) return RSA_OK;
    }
    return RSA_ERR_NEED_RANDOM;
}

// Swaps order[i] with order[target], target in [i, count), and returns the
// entry brought to i. Every entry from i on is read and written, so that
// no address follows the drawn target.
uint32_t SwapToFront(uint16_t* order, uint32_t i, uint32_t target, uint32_t count)
{
    const uint16_t front = order[i];
    uint16_t taken = 0;
    for (uint32_t k = i; k < count; ++k) {
        const uint16_t here = uint16_t(CT_ZeroMask(k ^ target));
        taken |= order[k] & here;
        order[k] = uint16_t((front & here) | (order[k] & ~here));
    }
    order[i] = taken;
    return taken;
}

// Each candidate of a narrow range once, in an order shuffled as the
// search goes: the candidates tested before the one kept tell nothing of
// it, as with fresh draws.
uint32_t SearchEach(uint32_t* a, const Candidates& range, uint32_t count, uint32_t digits, RandomPool* pool)
{
    uint16_t order[kMaxDraws];
    for (uint32_t i = 0; i < count; ++i) order[i] = uint16_t(i);
    uint32_t j[kPrimeDigits], candidate[kPrimeDigits];
    uint32_t result = RSA_ERR_DATA;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t pick = 0;
        bool passes = false;
        result = DrawBelow(&pick, count - i, pool);
        if (result == RSA_OK) {
            BigNum_AssignDigit(j, SwapToFront(order, i, i + pick, count), digits);
            CandidateAt(candidate, j, range, digits);
            result = RsaPrime_Test(&passes, candidate, digits, pool);
        }
        if (result != RSA_OK) break;
        if (passes) {
            BigNum_Assign(a, candidate, digits);
            break;
        }
        result = RSA_ERR_DATA;
    }
    SecureZero(order, count * sizeof *order);
    SecureZeroAll(j, candidate);
    // The list puts the tests' frames beyond the reach of the caller's clearing.
    SecureZeroStack<kStackBytes>();
    return result;
}

} // namespace

uint32_t RSA_GeneratePrime(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* s, uint32_t digits,
                           RandomPool* pool)
{
    if (pool->bytesNeeded != 0) return RSA_ERR_NEED_RANDOM;
    Candidates range;
    if (digits == 0 || digits > kPrimeDigits || !FindCandidates(&range, b, c, s, digits)) return RSA_ERR_DATA;
    const uint32_t draws = kDrawsPerBit * BigNum_Bits(c, digits);
    // Fresh draws from fewer candidates than draws would test the same
    // ones over and over, and refuse a range of composites only after the
    // last draw.
    const bool narrow = range.spanBits < 32 && range.span[0] < draws - 1;
    const uint32_t result =
        narrow ? SearchEach(a, range, range.span[0] + 1, digits, pool) : SearchPrime(a, range, draws, digits, pool);
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

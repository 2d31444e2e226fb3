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

// e is prime, so p - 1 and e are coprime unless p = 1 mod e.
uint32_t GeneratePrimeCoprime(uint32_t* prime, uint32_t bits, uint32_t e, uint32_t digits, RandomPool* pool)
{
    uint32_t lower[kPrimeDigits], upper[kPrimeDigits], step[kPrimeDigits];
    PrimeBounds(lower, upper, bits, digits);
    BigNum_AssignDigit(step, 2, digits);
    const SmallModulus modE = SmallModulus_Make(e);
    for (;;) {
        const uint32_t result = RSA_GeneratePrime(prime, lower, upper, step, digits, pool);
        if (result != RSA_OK) return result;
        if (CT_Public(SmallModulus_Of(modE, prime, digits) != 1)) return RSA_OK;
    }
}

// a = b + c when the mask is all ones, else b; of digits.
void AddIf(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t mask, uint32_t digits)
{
    uint32_t masked[kPrimeDigits];
    for (uint32_t i = 0; i < digits; ++i) masked[i] = c[i] & mask;
    BigNum_Add(a, b, masked, digits);
}

} // namespace

uint32_t RSA_GeneratePrime(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* s, uint32_t digits,
                           RandomPool* pool)
{
    if (pool->bytesNeeded != 0) return RSA_ERR_NEED_RANDOM;
    uint8_t bytes[4 * kPrimeDigits];
    uint32_t result = RandomPool_GenerateBytes(bytes, 4 * digits, pool);
    if (result != RSA_OK) return result;
    uint32_t t[kPrimeDigits], u[kPrimeDigits], v[kPrimeDigits], one[kPrimeDigits], sNegated[kPrimeDigits];
    BigNum_Decode(t, digits, bytes, 4 * digits);
    SecureZero(bytes, sizeof bytes);

    // a = b + (t mod (c - b + 1))
    BigNum_AssignDigit(one, 1, digits);
    BigNum_Sub(u, c, b, digits);
    BigNum_Add(u, u, one, digits);
    BigNum_Mod(v, t, digits, u, digits);
    BigNum_Add(t, v, b, digits);

    // a - 1 a multiple of s, kept inside [b, c]; the corrections by mask.
    BigNum_Mod(v, t, digits, s, digits);
    BigNum_Sub(t, t, v, digits);
    BigNum_Add(t, t, one, digits);
    AddIf(t, t, s, 0u - BigNum_Sub(v, t, b, digits), digits);
    BigNum_AssignZero(sNegated, digits);
    BigNum_Sub(sNegated, sNegated, s, digits);
    AddIf(t, t, sNegated, 0u - BigNum_Sub(v, c, t, digits), digits);

    BigNum_Sub(u, c, s, digits);
    for (;;) {
        bool passes = false;
        result = RsaPrime_Test(&passes, t, digits, pool);
        if (result != RSA_OK) break;
        if (passes) {
            BigNum_Assign(a, t, digits);
            break;
        }
        if (CT_Public(BigNum_Sub(v, u, t, digits) != 0)) {
            result = RSA_ERR_DATA;
            break;
        }
        BigNum_Add(t, t, s, digits);
    }
    SecureZeroAll(t, v);
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

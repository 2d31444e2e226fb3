#include "tokencrypto/Rsa.h"

#include "tokencrypto/BigNumber.h"
#include "tokencrypto/SecureZero.h"

namespace tokencrypto {
namespace {

constexpr uint32_t kPrimeDigits = RSA_MAX_PRIME_LEN / 4 + 1;

// The output length comes from bits, so bits must describe a modulus that
// fits both the record and the output.
bool ValidSize(uint32_t bits, const uint32_t* modulus) {
    return bits != 0 && bits <= RSA_MAX_MODULUS_BITS && BigNum_Bits(modulus, BIGNUM_MAX_DIGITS) <= bits &&
           BigNum_Bits(modulus, BIGNUM_MAX_DIGITS) != 0;
}

// Input as a number; false when it has more significant bytes than any modulus.
bool DecodeInput(uint32_t* c, const uint8_t* input, uint32_t length) {
    while (length > 0 && input[0] == 0) {
        ++input;
        --length;
    }
    if (length > RSA_MAX_MODULUS_LEN) return false;
    BigNum_Decode(c, BIGNUM_MAX_DIGITS, input, length);
    return true;
}

void WriteOutput(uint8_t* output, uint32_t* outputLength, uint32_t bits, const uint32_t* m) {
    *outputLength = (bits + 7) / 8;
    BigNum_Encode(output, *outputLength, m, BIGNUM_MAX_DIGITS);
}

}  // namespace

uint32_t soft_RSA_PublicEncrypt(uint8_t* output, uint32_t* outputLength, const uint8_t* input, uint32_t inputLength,
                                const RsaPublicKey* key) {
    uint32_t c[BIGNUM_MAX_DIGITS], n[BIGNUM_MAX_DIGITS], e[BIGNUM_MAX_DIGITS], m[BIGNUM_MAX_DIGITS];
    BigNum_Decode(n, BIGNUM_MAX_DIGITS, key->modulus, RSA_MAX_MODULUS_LEN);
    BigNum_Decode(e, BIGNUM_MAX_DIGITS, key->exponent, RSA_MAX_MODULUS_LEN);
    if (!ValidSize(key->bits, n)) return RSA_ERR_MODULUS_LEN;
    // Compared over every digit: a digit above the modulus's top one must
    // not be dropped silently.
    if (!DecodeInput(c, input, inputLength) || BigNum_Cmp(c, n, BIGNUM_MAX_DIGITS) >= 0) return RSA_ERR_DATA;
    const uint32_t nDigits = BigNum_Digits(n, BIGNUM_MAX_DIGITS);
    BigNum_ModExp(m, c, e, BigNum_Digits(e, BIGNUM_MAX_DIGITS), n, nDigits);
    BigNum_AssignZero(m + nDigits, BIGNUM_MAX_DIGITS - nDigits);
    WriteOutput(output, outputLength, key->bits, m);
    return RSA_OK;
}

uint32_t soft_RSA_PrivateDecrypt(uint8_t* output, uint32_t* outputLength, const uint8_t* input, uint32_t inputLength,
                                 const RsaPrivateKey* key) {
    uint32_t c[BIGNUM_MAX_DIGITS], n[BIGNUM_MAX_DIGITS];
    BigNum_Decode(n, BIGNUM_MAX_DIGITS, key->modulus, RSA_MAX_MODULUS_LEN);
    if (!ValidSize(key->bits, n)) return RSA_ERR_MODULUS_LEN;
    if (!DecodeInput(c, input, inputLength) || BigNum_Cmp(c, n, BIGNUM_MAX_DIGITS) >= 0) return RSA_ERR_DATA;

    uint32_t p[kPrimeDigits], q[kPrimeDigits], dP[kPrimeDigits], dQ[kPrimeDigits], qInv[kPrimeDigits];
    BigNum_Decode(p, kPrimeDigits, key->prime[0], RSA_MAX_PRIME_LEN);
    BigNum_Decode(q, kPrimeDigits, key->prime[1], RSA_MAX_PRIME_LEN);
    BigNum_Decode(dP, kPrimeDigits, key->primeExponent[0], RSA_MAX_PRIME_LEN);
    BigNum_Decode(dQ, kPrimeDigits, key->primeExponent[1], RSA_MAX_PRIME_LEN);
    BigNum_Decode(qInv, kPrimeDigits, key->coefficient, RSA_MAX_PRIME_LEN);
    // One digit count for both primes, taken from the longer one: the key
    // record does not promise p > q.
    const uint32_t pDigits = BigNum_Digits(p, kPrimeDigits);
    const uint32_t qDigits = BigNum_Digits(q, kPrimeDigits);
    const uint32_t k = pDigits > qDigits ? pDigits : qDigits;
    if (pDigits == 0 || qDigits == 0) return RSA_ERR_DATA;

    uint32_t cP[kPrimeDigits], cQ[kPrimeDigits], mP[kPrimeDigits], mQ[kPrimeDigits], t[kPrimeDigits];
    const uint32_t cDigits = BigNum_Digits(c, BIGNUM_MAX_DIGITS);
    BigNum_Mod(cP, c, cDigits, p, k);
    BigNum_Mod(cQ, c, cDigits, q, k);
    BigNum_ModExp(mP, cP, dP, k, p, k);
    BigNum_ModExp(mQ, cQ, dQ, k, q, k);

    // h = qInv (mP - mQ mod p) mod p holds for either order of the primes.
    BigNum_Mod(t, mQ, k, p, k);
    if (BigNum_Sub(t, mP, t, k) != 0) BigNum_Add(t, t, p, k);
    BigNum_ModMul(t, t, qInv, p, k);

    uint32_t m[2 * kPrimeDigits];
    BigNum_Mul(m, t, q, k);
    uint32_t mQWide[2 * kPrimeDigits] = {};
    BigNum_Assign(mQWide, mQ, k);
    BigNum_Add(m, m, mQWide, 2 * k);
    uint32_t result[BIGNUM_MAX_DIGITS] = {};
    BigNum_Assign(result, m, 2 * k < BIGNUM_MAX_DIGITS ? 2 * k : BIGNUM_MAX_DIGITS);
    WriteOutput(output, outputLength, key->bits, result);

    SecureZero(cP, sizeof cP);
    SecureZero(cQ, sizeof cQ);
    SecureZero(mP, sizeof mP);
    SecureZero(mQ, sizeof mQ);
    SecureZero(dP, sizeof dP);
    SecureZero(dQ, sizeof dQ);
    SecureZero(p, sizeof p);
    SecureZero(q, sizeof q);
    SecureZero(m, sizeof m);
    SecureZero(result, sizeof result);
    return RSA_OK;
}

}  // namespace tokencrypto

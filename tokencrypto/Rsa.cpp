#include "tokencrypto/Rsa.h"

#include "tokencrypto/BigNumber.h"
#include "tokencrypto/ConstantTime.h"
#include "tokencrypto/CtModulus.h"
#include "tokencrypto/RsaBlinding.h"
#include "tokencrypto/SecureZero.h"

namespace tokencrypto {
namespace {

constexpr uint32_t kPrimeDigits = RSA_MAX_PRIME_LEN / 4 + 1;
// Deeper than the calls of the private operation reach, with room to spare.
constexpr size_t kStackBytes = 32 * 1024;

// The output length comes from bits, so bits must describe a modulus that
// fits both the record and the output.
bool ValidSize(uint32_t bits, const uint32_t* modulus)
{
    return bits != 0 && bits <= RSA_MAX_MODULUS_BITS && BigNum_Bits(modulus, BIGNUM_MAX_DIGITS) <= bits &&
        BigNum_Bits(modulus, BIGNUM_MAX_DIGITS) != 0;
}

// Input as a number; false when it has more significant bytes than any modulus.
bool DecodeInput(uint32_t* c, const uint8_t* input, uint32_t length)
{
    while (length > 0 && input[0] == 0) {
        ++input;
        --length;
    }
    if (length > RSA_MAX_MODULUS_LEN) return false;
    BigNum_Decode(c, BIGNUM_MAX_DIGITS, input, length);
    return true;
}

void WriteOutput(uint8_t* output, uint32_t* outputLength, uint32_t bits, const uint32_t* m)
{
    *outputLength = (bits + 7) / 8;
    BigNum_Encode(output, *outputLength, m, BIGNUM_MAX_DIGITS);
}

struct PrivateKeyDigits {
    uint32_t p[kPrimeDigits], q[kPrimeDigits], dP[kPrimeDigits], dQ[kPrimeDigits], qInv[kPrimeDigits];
    uint32_t k; // the public digit count of both primes
    ~PrivateKeyDigits() { SecureZero(this, sizeof *this); }
};

// The primes' sizes are public; their values, the exponents and qInv are not.
uint32_t DecodePrivate(PrivateKeyDigits* key, const RsaPrivateKey* record, uint32_t nDigits)
{
    BigNum_Decode(key->p, kPrimeDigits, record->prime[0], RSA_MAX_PRIME_LEN);
    BigNum_Decode(key->q, kPrimeDigits, record->prime[1], RSA_MAX_PRIME_LEN);
    BigNum_Decode(key->dP, kPrimeDigits, record->primeExponent[0], RSA_MAX_PRIME_LEN);
    BigNum_Decode(key->dQ, kPrimeDigits, record->primeExponent[1], RSA_MAX_PRIME_LEN);
    BigNum_Decode(key->qInv, kPrimeDigits, record->coefficient, RSA_MAX_PRIME_LEN);
    // One digit count for both primes, taken from the longer one: the key
    // record does not promise p > q.
    const uint32_t pDigits = CT_Public(CtSignificantDigits(key->p, kPrimeDigits));
    const uint32_t qDigits = CT_Public(CtSignificantDigits(key->q, kPrimeDigits));
    key->k = pDigits > qDigits ? pDigits : qDigits;
    const bool odd = CT_Public(((key->p[0] & key->q[0]) & 1) != 0);
    if (pDigits == 0 || qDigits == 0 || !odd || 2 * key->k < nDigits) return RSA_ERR_DATA;
    return RSA_OK;
}

// m = c^d mod n by the CRT in constant time, on c blinded by r^e,
// and checked with e before it is handed out: a faulty result could give
// away a prime factor.
uint32_t BlindedPrivate(uint32_t* m, const uint32_t* c, const uint32_t* n, const uint32_t* e,
                        const PrivateKeyDigits& key)
{
    const uint32_t nDigits = BigNum_Digits(n, BIGNUM_MAX_DIGITS);
    const uint32_t eDigits = BigNum_Digits(e, BIGNUM_MAX_DIGITS);
    CtModulus modN;
    CtModulus_InitPublic(&modN, n, nDigits);

    RsaBlindingPair pair;
    if (!RsaBlinding_Take(&pair, modN, n, e)) return RSA_ERR_NEED_RANDOM;
    uint32_t t[BIGNUM_MAX_DIGITS] = {}, blinded[BIGNUM_MAX_DIGITS] = {};
    CtModulus_Mul(modN, blinded, c, pair.a);

    const uint32_t k = key.k;
    CtModulus modP, modQ;
    CtModulus_Init(&modP, key.p, k);
    CtModulus_Init(&modQ, key.q, k);
    uint32_t mP[kPrimeDigits], mQ[kPrimeDigits], h[kPrimeDigits], qInv[kPrimeDigits];
    CtModulus_Reduce(modP, h, blinded, nDigits);
    CtModulus_Exp(modP, mP, h, key.dP, k);
    CtModulus_Reduce(modQ, h, blinded, nDigits);
    CtModulus_Exp(modQ, mQ, h, key.dQ, k);

    // h = qInv (mP - mQ) mod p holds for either order of the primes.
    CtModulus_Reduce(modP, h, mQ, k);
    CtModulus_Sub(modP, h, mP, h);
    CtModulus_Reduce(modP, qInv, key.qInv, k);
    CtModulus_Mul(modP, h, h, qInv);
    // m = h q + mQ, every digit of h multiplied whether zero or not.
    uint32_t wide[2 * kPrimeDigits] = {};
    for (uint32_t i = 0; i < k; ++i) wide[i + k] = BigNum_AddDigitMul(&wide[i], &wide[i], h[i], key.q, k);
    uint32_t mQWide[2 * kPrimeDigits] = {};
    BigNum_Assign(mQWide, mQ, k);
    BigNum_Add(wide, wide, mQWide, 2 * k);

    CtModulus_Mul(modN, m, wide, pair.aInv);
    CtModulus_ExpPublic(modN, t, m, e, eDigits);
    const bool intact = CT_Public(CtDigitsEqual(t, c, nDigits));
    SecureZeroAll(mP, mQ, h, qInv, wide, mQWide, pair, blinded, modP, modQ);
    if (!intact) return RSA_ERR_DATA;
    CT_Declassify(m, nDigits * sizeof *m);
    return RSA_OK;
}

} // namespace

uint32_t soft_RSA_PublicEncrypt(uint8_t* output, uint32_t* outputLength, const uint8_t* input, uint32_t inputLength,
                                const RsaPublicKey* key)
{
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
                                 const RsaPrivateKey* key)
{
    uint32_t c[BIGNUM_MAX_DIGITS], n[BIGNUM_MAX_DIGITS], e[BIGNUM_MAX_DIGITS];
    BigNum_Decode(n, BIGNUM_MAX_DIGITS, key->modulus, RSA_MAX_MODULUS_LEN);
    BigNum_Decode(e, BIGNUM_MAX_DIGITS, key->publicExponent, RSA_MAX_MODULUS_LEN);
    if (!ValidSize(key->bits, n)) return RSA_ERR_MODULUS_LEN;
    // No key we make or take is shorter; a modulus of a few bits would
    // leave the blinding draw nothing to draw from.
    if (BigNum_Bits(n, BIGNUM_MAX_DIGITS) < RSA_MIN_MODULUS_BITS) return RSA_ERR_MODULUS_LEN;
    if (!DecodeInput(c, input, inputLength) || BigNum_Cmp(c, n, BIGNUM_MAX_DIGITS) >= 0) return RSA_ERR_DATA;
    // The result is checked with the public exponent, and blinding needs it too.
    if ((n[0] & 1) == 0 || BigNum_IsZero(e, BIGNUM_MAX_DIGITS)) return RSA_ERR_DATA;

    PrivateKeyDigits digits = {};
    uint32_t m[BIGNUM_MAX_DIGITS] = {};
    uint32_t result = DecodePrivate(&digits, key, BigNum_Digits(n, BIGNUM_MAX_DIGITS));
    if (result == RSA_OK) result = BlindedPrivate(m, c, n, e, digits);
    SecureZeroStack<kStackBytes>();
    if (result == RSA_OK) WriteOutput(output, outputLength, key->bits, m);
    SecureZero(m, sizeof m);
    return result;
}

} // namespace tokencrypto

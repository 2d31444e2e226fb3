#include "tokencrypto/RsaKeyFromPrimes.h"

#include <cstring>

#include "tokencrypto/BigNumber.h"
#include "tokencrypto/ConstantTime.h"
#include "tokencrypto/CtModulus.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/SmallModulus.h"

namespace tokencrypto {
namespace {

constexpr uint32_t kPrimeDigits = RSA_MAX_PRIME_LEN / 4 + 1;

// p and q exchanged when p < q, by mask.
void OrderPrimes(uint32_t* p, uint32_t* q, uint32_t digits)
{
    uint32_t difference[kPrimeDigits];
    const uint32_t exchange = 0u - BigNum_Sub(difference, p, q, digits);
    for (uint32_t i = 0; i < digits; ++i) {
        const uint32_t t = (p[i] ^ q[i]) & exchange;
        p[i] ^= t;
        q[i] ^= t;
    }
    SecureZero(difference, sizeof difference);
}

// a (2 digits) = b c, every digit multiplied whether zero or not.
void Product(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits)
{
    BigNum_AssignZero(a, 2 * digits);
    for (uint32_t i = 0; i < digits; ++i) a[i + digits] = BigNum_AddDigitMul(&a[i], &a[i], b[i], c, digits);
}

// x^-1 mod e for x not a multiple of the prime e, as x^(e - 2): the
// exponent is public.
uint32_t SmallInverse(const SmallModulus& e, uint32_t x)
{
    uint32_t result = 1;
    for (uint32_t bit = 32; bit-- > 0;) {
        result = SmallModulus_Reduce(e, uint64_t(result) * result);
        if (((e.d - 2) >> bit) & 1) result = SmallModulus_Reduce(e, uint64_t(result) * x);
    }
    return result;
}

// a = w / e for w (digits) a multiple of the odd e: each quotient digit
// from e^-1 mod 2^32, with no division.
void ExactDivide(uint32_t* a, const uint32_t* w, uint32_t digits, uint32_t e)
{
    uint32_t inverse = e; // correct to 3 bits for odd e, doubling with each step
    for (int i = 0; i < 4; ++i) inverse *= 2 - e * inverse;
    uint32_t carry = 0;
    for (uint32_t i = 0; i < digits; ++i) {
        const uint64_t x = uint64_t(w[i]) - carry;
        const uint32_t q = uint32_t(x) * inverse;
        a[i] = q;
        carry = uint32_t((uint64_t(q) * e) >> 32) + uint32_t(x >> 63);
    }
}

// a = e^-1 mod m (digits) for m not a multiple of e: (1 + k m) / e with
// k = -m^-1 mod e, which is below e, so a is below m. Only the small
// public e steers a loop.
void InverseOfExponent(uint32_t* a, const uint32_t* m, uint32_t digits, uint32_t e)
{
    const SmallModulus modE = SmallModulus_Make(e);
    const uint32_t k = e - SmallInverse(modE, SmallModulus_Of(modE, m, digits));
    uint32_t w[BIGNUM_MAX_DIGITS + 1] = {1}, quotient[BIGNUM_MAX_DIGITS + 1];
    w[digits] = BigNum_AddDigitMul(w, w, k, m, digits);
    ExactDivide(quotient, w, digits + 1, e);
    BigNum_Assign(a, quotient, digits);
    SecureZeroAll(w, quotient);
}

void Place(uint8_t* field, uint32_t fieldLength, const uint32_t* value, uint32_t digits)
{
    BigNum_Encode(field, fieldLength, value, digits);
}

} // namespace

void RsaKey_FromPrimes(RsaPublicKey* publicKey, RsaPrivateKey* privateKey, uint32_t* p, uint32_t* q, uint32_t pDigits,
                       uint32_t bits, uint32_t e)
{
    const uint32_t nDigits = (bits + 31) / 32;
    OrderPrimes(p, q, pDigits);

    uint32_t n[BIGNUM_MAX_DIGITS] = {}, phi[BIGNUM_MAX_DIGITS] = {}, d[BIGNUM_MAX_DIGITS] = {};
    uint32_t one[kPrimeDigits], two[kPrimeDigits], pMinus1[kPrimeDigits], qMinus1[kPrimeDigits];
    uint32_t pMinus2[kPrimeDigits], qInv[kPrimeDigits], dP[kPrimeDigits], dQ[kPrimeDigits];
    BigNum_AssignDigit(one, 1, pDigits);
    BigNum_AssignDigit(two, 2, pDigits);
    BigNum_Sub(pMinus1, p, one, pDigits);
    BigNum_Sub(qMinus1, q, one, pDigits);
    BigNum_Sub(pMinus2, p, two, pDigits);
    Product(n, p, q, pDigits);
    CT_Declassify(n, sizeof n); // the modulus is public
    Product(phi, pMinus1, qMinus1, pDigits);
    InverseOfExponent(d, phi, nDigits, e);
    // e dP = 1 mod p - 1 is what d mod (p - 1) satisfies, and it is unique.
    InverseOfExponent(dP, pMinus1, pDigits, e);
    InverseOfExponent(dQ, qMinus1, pDigits, e);
    // q^-1 mod p by Fermat, in the constant-time exponentiation; q < p.
    CtModulus modP;
    CtModulus_Init(&modP, p, pDigits);
    CtModulus_Exp(modP, qInv, q, pMinus2, pDigits);

    uint32_t exponent[BIGNUM_MAX_DIGITS];
    BigNum_AssignDigit(exponent, e, nDigits);
    std::memset(publicKey, 0, sizeof *publicKey);
    std::memset(privateKey, 0, sizeof *privateKey);
    publicKey->bits = privateKey->bits = bits;
    Place(publicKey->modulus, RSA_MAX_MODULUS_LEN, n, nDigits);
    Place(publicKey->exponent, RSA_MAX_MODULUS_LEN, exponent, nDigits);
    std::memcpy(privateKey->modulus, publicKey->modulus, RSA_MAX_MODULUS_LEN);
    std::memcpy(privateKey->publicExponent, publicKey->exponent, RSA_MAX_MODULUS_LEN);
    Place(privateKey->exponent, RSA_MAX_MODULUS_LEN, d, nDigits);
    Place(privateKey->prime[0], RSA_MAX_PRIME_LEN, p, pDigits);
    Place(privateKey->prime[1], RSA_MAX_PRIME_LEN, q, pDigits);
    Place(privateKey->primeExponent[0], RSA_MAX_PRIME_LEN, dP, pDigits);
    Place(privateKey->primeExponent[1], RSA_MAX_PRIME_LEN, dQ, pDigits);
    Place(privateKey->coefficient, RSA_MAX_PRIME_LEN, qInv, pDigits);
    SecureZeroAll(phi, d, pMinus1, qMinus1, pMinus2, qInv, dP, dQ, modP);
}

} // namespace tokencrypto

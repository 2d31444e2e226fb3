#include "tokencrypto/Sm2.h"

#include "tokencrypto/RandomPool.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/Sm2Scheme.h"

namespace tokencrypto {
namespace {

using sm2::Fe;
using sm2::JacobianPoint;

// Deeper than the calls of any operation below reach, with room to spare.
constexpr size_t kStackBytes = 12 * 1024;

// 32 bytes of key stream from an RC4 state keyed afresh by the system generator.
bool SystemScalar(uint8_t k[32])
{
    Rc4State* state = RC4_NewFromSystemRandom();
    if (state == nullptr) return false;
    for (unsigned i = 0; i < 32; ++i) k[i] = RC4_NextByte(state);
    RC4_Free(state);
    return true;
}

Fe FromWords(const uint32_t words[8])
{
    Fe r;
    mont::FromDigits(r.v, sm2::kLimbs, words, 8);
    return r;
}

void ToWords(uint32_t words[8], const Fe& a)
{
    mont::ToDigits(words, 8, a.v);
}

JacobianPoint FromPoint(const Sm2Point& point, const sm2::Curve& c)
{
    JacobianPoint r;
    sm2::Point_FromAffine(&r, FromWords(point.x), FromWords(point.y), c);
    return r;
}

void ToPoint(Sm2Point* r, const JacobianPoint& point, const sm2::Curve& c)
{
    Fe x, y;
    sm2::Point_ToAffine(&x, &y, point, c);
    ToWords(r->x, x);
    ToWords(r->y, y);
}

void ModSub(uint32_t r[8], const uint32_t a[8], const uint32_t b[8], const sm2::Field& f)
{
    Fe ra, rb, out;
    sm2::Fe_Reduce(&ra, FromWords(a), f);
    sm2::Fe_Reduce(&rb, FromWords(b), f);
    sm2::Fe_Sub(&out, ra, rb, f);
    ToWords(r, out);
}

} // namespace

uint32_t SM2_Sign(const Sm2PrivateKey* key, const uint8_t e[32], uint8_t* signature, uint32_t* signatureLength)
{
    const uint32_t result = sm2::Scheme_Sign(sm2::RecommendedCurve(), key->d, e, SystemScalar, signature);
    SecureZeroStack<kStackBytes>();
    if (result == SM2_OK) *signatureLength = SM2_SIGNATURE_LENGTH;
    return result;
}

uint32_t SM2_Verify(const Sm2PublicKey* key, const uint8_t e[32], const uint8_t signature[64])
{
    return sm2::Scheme_Verify(sm2::RecommendedCurve(), key->x, key->y, e, signature);
}

uint32_t SM2_Enc(const Sm2PublicKey* key, const uint8_t* message, uint32_t messageLength, uint8_t* output,
                 uint32_t* outputLength, uint32_t outputLengthToUse)
{
    *outputLength = outputLengthToUse;
    // C3 sits at the end of the given length: any other length would put
    // it over C2 or past the output.
    if (messageLength > UINT32_MAX - SM2_CIPHER_OVERHEAD || outputLengthToUse != messageLength + SM2_CIPHER_OVERHEAD) {
        return SM2_ERR_INVALID;
    }
    const uint32_t result =
        sm2::Scheme_Encrypt(sm2::RecommendedCurve(), key->x, key->y, message, messageLength, SystemScalar, output);
    SecureZeroStack<kStackBytes>();
    return result;
}

uint32_t SM2_Dec(const Sm2PrivateKey* key, const uint8_t* cipher, uint32_t cipherLength, uint8_t* output,
                 uint32_t* outputLength, uint32_t messageLength)
{
    *outputLength = messageLength;
    const uint32_t result =
        sm2::Scheme_Decrypt(sm2::RecommendedCurve(), key->d, cipher, cipherLength, output, messageLength);
    SecureZeroStack<kStackBytes>();
    return result;
}

uint32_t SM2_GetZ(const Sm2PublicKey* key, const uint8_t* id, uint32_t idLength, uint8_t z[32])
{
    sm2::Scheme_GetZ(sm2::RecommendedCurve(), key->x, key->y, id, idLength, z);
    return SM2_OK;
}

void SM2_ModSubP(uint32_t r[8], const uint32_t a[8], const uint32_t b[8])
{
    ModSub(r, a, b, sm2::RecommendedCurve().p);
}

void SM2_ModSubN(uint32_t r[8], const uint32_t a[8], const uint32_t b[8])
{
    ModSub(r, a, b, sm2::RecommendedCurve().n);
}

void SM2_ModMulP(uint32_t r[8], const uint32_t a[8], const uint32_t b[8])
{
    const sm2::Field& p = sm2::RecommendedCurve().p;
    Fe ra, rb, out;
    sm2::Fe_Reduce(&ra, FromWords(a), p);
    sm2::Fe_Reduce(&rb, FromWords(b), p);
    // (a b R^-1) R^2 R^-1 = a b
    sm2::Fe_Mul(&out, ra, rb, p);
    sm2::Fe_Mul(&out, out, p.rr, p);
    ToWords(r, out);
}

void SM2_PointAdd(Sm2Point* r, const Sm2Point* p1, const Sm2Point* p2)
{
    const sm2::Curve& c = sm2::RecommendedCurve();
    JacobianPoint sum;
    sm2::Point_Add(&sum, FromPoint(*p1, c), FromPoint(*p2, c), c);
    ToPoint(r, sum, c);
}

void SM2_PointMul(Sm2Point* r, const uint32_t k[8], const Sm2Point* p)
{
    // The scalar may be a private key.
    const sm2::Curve& c = sm2::RecommendedCurve();
    Fe scalar = FromWords(k);
    JacobianPoint product;
    sm2::Point_Mul(&product, scalar, FromPoint(*p, c), c);
    ToPoint(r, product, c);
    SecureZeroAll(scalar, product);
    SecureZeroStack<kStackBytes>();
}

uint32_t SM2_RandomK(uint32_t k[8])
{
    Fe scalar;
    const bool drawn = sm2::Scheme_DrawScalar(sm2::RecommendedCurve(), SystemScalar, &scalar);
    if (drawn) ToWords(k, scalar);
    SecureZero(&scalar, sizeof scalar);
    SecureZeroStack<kStackBytes>();
    return drawn ? SM2_OK : SM2_ERR_RANDOM;
}

} // namespace tokencrypto

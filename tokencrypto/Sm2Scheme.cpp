#include "tokencrypto/Sm2Scheme.h"

#include <cstring>

#include "tokencrypto/ConstantTime.h"
#include "tokencrypto/RandomPool.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/Sm2.h"
#include "tokencrypto/Sm3.h"

namespace tokencrypto {
namespace sm2 {
namespace {

// Plain scalar below n to Montgomery form, and the sum of two values below n.
Fe ToMontN(const Fe& a, const Curve& c)
{
    Fe r;
    Fe_ToMont(&r, a, c.n);
    return r;
}

Fe AddModN(const Fe& a, const Fe& b, const Curve& c)
{
    Fe r;
    Fe_Add(&r, a, b, c.n);
    return r;
}

Fe ReduceN(const Fe& a, const Curve& c)
{
    Fe r;
    Fe_Reduce(&r, a, c.n);
    return r;
}

Fe FromBytes(const uint8_t bytes[32])
{
    Fe r;
    Fe_FromBytes(&r, bytes);
    return r;
}

// A public point given as big-endian x and y; false for anything off the
// curve, infinity's (0, 0) among them.
bool CurvePoint(JacobianPoint* point, const uint8_t x[32], const uint8_t y[32], const Curve& c)
{
    const Fe px = FromBytes(x), py = FromBytes(y);
    if (!Point_IsOnCurve(px, py, c)) return false;
    Point_FromAffine(point, px, py, c);
    return true;
}

// x2 || y2 of a point, infinity giving zeros.
void PointBytes(uint8_t out[64], const JacobianPoint& point, const Curve& c)
{
    Fe x, y;
    Point_ToAffine(&x, &y, point, c);
    Fe_ToBytes(out, x);
    Fe_ToBytes(out + 32, y);
    SecureZeroAll(x, y);
}

bool AllZero(const uint8_t* data, uint32_t length)
{
    uint8_t any = 0;
    for (uint32_t i = 0; i < length; ++i) any |= data[i];
    return any == 0;
}

// SM3(x2 || message || y2), the check value C3.
void CheckValue(uint8_t out[32], const uint8_t x2y2[64], const uint8_t* message, uint32_t length)
{
    Sm3Context context;
    SM3_Init(&context);
    SM3_Update(&context, x2y2, 32);
    SM3_Update(&context, message, length);
    SM3_Update(&context, x2y2 + 32, 32);
    SM3_Final(&context, out);
    SecureZero(&context, sizeof context);
}

bool EqualConstantTime(const uint8_t* a, const uint8_t* b, uint32_t length)
{
    uint8_t diff = 0;
    for (uint32_t i = 0; i < length; ++i) diff |= a[i] ^ b[i];
    return diff == 0;
}

// Whether the plain x, when below p, equals X / Z^2 (zz = Z^2, Montgomery form).
bool MatchesX(const Fe& x, const Fe& zz, const Fe& X, const Curve& c)
{
    if (!Fe_Below(x, c.p)) return false;
    Fe t;
    Fe_ToMont(&t, x, c.p);
    Fe_Mul(&t, t, zz, c.p);
    return Fe_Equal(t, X);
}

// r = a + b; false when the sum does not fit 256 bits.
bool AddPlain(Fe* r, const Fe& a, const Fe& b)
{
    Limb carry = 0;
    for (size_t i = 0; i < kLimbs; ++i) {
        const mont::Wide sum = mont::Wide(a.v[i]) + b.v[i] + carry;
        r->v[i] = Limb(sum);
        carry = Limb(sum >> mont::kLimbBits);
    }
    return carry == 0;
}

// A scalar in [1, n - 1]; only the verdict is made public.
bool InRange(const Fe& d, const Curve& c)
{
    return CT_Public(!Fe_IsZero(d) & Fe_Below(d, c.n));
}

// The private scalar, k, and what is made from them, cleared on every way
// out of the operation that holds them.
struct Secrets {
    Fe d, dm, onePlusD, inverse, k, km, t;
    JacobianPoint point;
    uint8_t x2y2[64];
    ~Secrets() { SecureZero(this, sizeof *this); }
};

} // namespace

bool Scheme_DrawScalar(const Curve& c, const ScalarSource& source, Fe* k)
{
    uint8_t bytes[32];
    bool drawn = false;
    for (unsigned draw = 0; draw < RANDOM_MAX_DRAWS && !drawn; ++draw) {
        if (!source(bytes)) break;
        Fe_FromBytes(k, bytes);
        drawn = InRange(*k, c);
    }
    SecureZero(bytes, sizeof bytes);
    if (!drawn) SecureZero(k, sizeof *k);
    return drawn;
}

uint32_t Scheme_Sign(const Curve& c, const uint8_t dBytes[32], const uint8_t eBytes[32], const ScalarSource& source,
                     uint8_t signature[64])
{
    Secrets secret;
    Fe_FromBytes(&secret.d, dBytes);
    if (!InRange(secret.d, c)) return SM2_ERR_INVALID;
    Fe_ToMont(&secret.dm, secret.d, c.n);
    Fe_Add(&secret.onePlusD, secret.dm, c.n.one, c.n);
    // d = n - 1 has no (1 + d)^-1: every s would be 0 and signing would never end.
    if (CT_Public(Fe_IsZero(secret.onePlusD))) return SM2_ERR_INVALID;
    Fe_Inv(&secret.inverse, secret.onePlusD, c.n);
    const Fe e = ReduceN(FromBytes(eBytes), c);

    Fe r, s;
    for (unsigned draw = 0;; ++draw) {
        if (draw == RANDOM_MAX_DRAWS || !Scheme_DrawScalar(c, source, &secret.k)) return SM2_ERR_RANDOM;
        Point_MulBase(&secret.point, secret.k, c);
        Fe x1, y1;
        Point_ToAffine(&x1, &y1, secret.point, c);
        // r is handed out; whether r + k = n only throws this k away.
        r = AddModN(e, ReduceN(x1, c), c);
        CT_Declassify(&r, sizeof r);
        Fe_Add(&secret.t, r, secret.k, c.n);
        if (Fe_IsZero(r) || CT_Public(Fe_IsZero(secret.t))) continue;
        Fe_ToMont(&secret.km, secret.k, c.n);
        Fe_Mul(&secret.t, ToMontN(r, c), secret.dm, c.n);
        Fe_Sub(&secret.t, secret.km, secret.t, c.n);
        Fe_Mul(&secret.t, secret.inverse, secret.t, c.n);
        Fe_FromMont(&s, secret.t, c.n);
        CT_Declassify(&s, sizeof s);
        if (!Fe_IsZero(s)) break;
    }
    Fe_ToBytes(signature, r);
    Fe_ToBytes(signature + 32, s);
    return SM2_OK;
}

uint32_t Scheme_Verify(const Curve& c, const uint8_t x[32], const uint8_t y[32], const uint8_t eBytes[32],
                       const uint8_t signature[64])
{
    const Fe r = FromBytes(signature);
    const Fe s = FromBytes(signature + 32);
    if (Fe_IsZero(r) || Fe_IsZero(s) || !Fe_Below(r, c.n) || !Fe_Below(s, c.n)) return SM2_ERR_INVALID;
    // With an infinite key s G alone would decide, and anyone could sign.
    JacobianPoint publicPoint;
    if (!CurvePoint(&publicPoint, x, y, c)) return SM2_ERR_INVALID;
    const Fe t = AddModN(r, s, c);
    if (Fe_IsZero(t)) return SM2_ERR_VERIFY;
    JacobianPoint sum;
    Point_MulSumPublic(&sum, s, t, publicPoint, c);
    if (Fe_IsZero(sum.z)) return SM2_ERR_VERIFY;
    // (e + x1) mod n = r holds when x1 is r - e mod n, or that plus n while
    // below p; each is compared as X = x1 Z^2 without leaving Jacobian form.
    Fe x1, zz;
    Fe_Sub(&x1, r, ReduceN(FromBytes(eBytes), c), c.n);
    Fe_Mul(&zz, sum.z, sum.z, c.p);
    return MatchesX(x1, zz, sum.x, c) || (AddPlain(&x1, x1, c.n.m) && MatchesX(x1, zz, sum.x, c)) ? SM2_OK
                                                                                                  : SM2_ERR_VERIFY;
}

uint32_t Scheme_Encrypt(const Curve& c, const uint8_t x[32], const uint8_t y[32], const uint8_t* message,
                        uint32_t messageLength, const ScalarSource& source, uint8_t* output)
{
    // Off the curve there is no shared point for the key stream to come from.
    JacobianPoint publicPoint;
    if (!CurvePoint(&publicPoint, x, y, c)) return SM2_ERR_INVALID;
    Secrets secret;
    for (unsigned draw = 0;; ++draw) {
        if (draw == RANDOM_MAX_DRAWS || !Scheme_DrawScalar(c, source, &secret.k)) return SM2_ERR_RANDOM;
        JacobianPoint c1;
        Point_MulBase(&c1, secret.k, c);
        Point_Mul(&secret.point, secret.k, publicPoint, c);
        PointBytes(output + 1, c1, c);
        PointBytes(secret.x2y2, secret.point, c);
        SM2_KDF(secret.x2y2, output + 65, messageLength);
        // An empty key stream is all-zero only vacuously.
        if (messageLength == 0 || !CT_Public(AllZero(output + 65, messageLength))) break;
    }
    output[0] = 0x04;
    for (uint32_t i = 0; i < messageLength; ++i) output[65 + i] ^= message[i];
    CheckValue(output + 65 + messageLength, secret.x2y2, message, messageLength);
    return SM2_OK;
}

uint32_t Scheme_Decrypt(const Curve& c, const uint8_t dBytes[32], const uint8_t* cipher, uint32_t cipherLength,
                        uint8_t* output, uint32_t messageLength)
{
    if (cipherLength < SM2_CIPHER_OVERHEAD || cipherLength - SM2_CIPHER_OVERHEAD != messageLength) {
        return SM2_ERR_INVALID;
    }
    Secrets secret;
    Fe_FromBytes(&secret.d, dBytes);
    if (!InRange(secret.d, c)) return SM2_ERR_INVALID;
    // A C1 off the curve would let the error answers leak d piece by piece.
    JacobianPoint c1;
    if (cipher[0] != 0x04 || !CurvePoint(&c1, cipher + 1, cipher + 33, c)) return SM2_ERR_INVALID;
    Point_Mul(&secret.point, secret.d, c1, c);
    PointBytes(secret.x2y2, secret.point, c);
    SM2_KDF(secret.x2y2, output, messageLength);
    uint32_t result = SM2_OK;
    if (messageLength != 0 && CT_Public(AllZero(output, messageLength))) {
        result = SM2_ERR_INVALID;
    } else {
        for (uint32_t i = 0; i < messageLength; ++i) output[i] ^= cipher[65 + i];
        uint8_t u[32];
        CheckValue(u, secret.x2y2, output, messageLength);
        if (!CT_Public(EqualConstantTime(u, cipher + cipherLength - 32, 32))) result = SM2_ERR_DECRYPT;
    }
    if (result != SM2_OK) SecureZero(output, messageLength);
    return result;
}

void Scheme_GetZ(const Curve& c, const uint8_t x[32], const uint8_t y[32], const uint8_t* id, uint32_t idLength,
                 uint8_t z[32])
{
    const uint8_t entl[2] = {uint8_t(idLength >> 5), uint8_t(idLength * 8)};
    Sm3Context context;
    SM3_Init(&context);
    SM3_Update(&context, entl, 2);
    SM3_Update(&context, id, idLength);
    SM3_Update(&context, c.params.a, 32);
    SM3_Update(&context, c.params.b, 32);
    SM3_Update(&context, c.params.gx, 32);
    SM3_Update(&context, c.params.gy, 32);
    SM3_Update(&context, x, 32);
    SM3_Update(&context, y, 32);
    SM3_Final(&context, z);
}

} // namespace sm2
} // namespace tokencrypto

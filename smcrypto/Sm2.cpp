#include "Sm2.h"

#include "OsslPtr.h"
#include "Sm3.h"
#include "SmCurves.h"
#include "SmObjects.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstdint>
#include <cstring>

namespace {

const uint8_t kDefaultId[] = "1234567812345678";
constexpr size_t kDefaultIdLen = 16;

struct CurveTexts {
    const char *a, *b, *gx, *gy;
};
constexpr CurveTexts kSm2Curve = {
    "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC",
    "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93",
    "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7",
    "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0",
};

void Fail(int reason)
{
    ERR_raise(ERR_LIB_ECDSA, reason);
}

BnPtr NewBn()
{
    return BnPtr(BN_new());
}

BnPtr HexBn(const char *text)
{
    BIGNUM *b = nullptr;
    return BnPtr(BN_hex2bn(&b, text) != 0 ? b : nullptr);
}

// Draws k uniformly from [1, n - 1].
bool DrawK(BIGNUM *k, const BIGNUM *n, BN_CTX *ctx)
{
    do {
        if (!BN_priv_rand_range_ex(k, n, 0, ctx)) return false;
    } while (BN_is_zero(k));
    return true;
}

// A point from affine coordinates; null when they are not on the curve.
EcPointPtr PointFrom(const EC_GROUP *group, const BIGNUM *x, const BIGNUM *y, BN_CTX *ctx)
{
    EcPointPtr p(EC_POINT_new(group));
    if (!p || !EC_POINT_set_affine_coordinates(group, p.get(), x, y, ctx)) return nullptr;
    return p;
}

bool Coordinates32(const EC_GROUP *group, const EC_POINT *p, uint8_t x[32], uint8_t y[32], BN_CTX *ctx)
{
    BnPtr bx = NewBn(), by = NewBn();
    return bx && by && EC_POINT_get_affine_coordinates(group, p, bx.get(), by.get(), ctx) &&
        sm2_bn2bin32(bx.get(), x) && sm2_bn2bin32(by.get(), y);
}

// The cofactor times the point must not be the point at infinity.
bool CofactorCheck(const EC_GROUP *group, const EC_POINT *p, BN_CTX *ctx)
{
    EcPointPtr s(EC_POINT_new(group));
    return s && EC_POINT_mul(group, s.get(), nullptr, p, EC_GROUP_get0_cofactor(group), ctx) &&
        !EC_POINT_is_at_infinity(group, s.get());
}

void KdfBytes(const uint8_t *in, size_t inLen, uint8_t *out, size_t outLen)
{
    SM3_CTX base;
    sm3_init(&base);
    sm3_update(&base, in, inLen);
    uint8_t block[SM3_DIGEST_LENGTH];
    for (uint32_t ct = 1; outLen > 0; ++ct) {
        SM3_CTX h = base;
        const uint8_t counter[4] = {uint8_t(ct >> 24), uint8_t(ct >> 16), uint8_t(ct >> 8), uint8_t(ct)};
        sm3_update(&h, counter, sizeof counter);
        sm3_final(block, &h);
        size_t n = outLen < sizeof block ? outLen : sizeof block;
        std::memcpy(out, block, n);
        out += n;
        outLen -= n;
    }
    OPENSSL_cleanse(block, sizeof block);
}

void HashC3(const uint8_t x2[32], const uint8_t *msg, size_t len, const uint8_t y2[32], uint8_t c3[32])
{
    SM3_CTX h;
    sm3_init(&h);
    sm3_update(&h, x2, 32);
    sm3_update(&h, msg, len);
    sm3_update(&h, y2, 32);
    sm3_final(c3, &h);
}

// x2 || y2 of the shared point, with the scalar kept secret.
struct SharedPoint {
    uint8_t xy[64];
    ~SharedPoint() { OPENSSL_cleanse(xy, sizeof xy); }
};

} // namespace

int sm2_bn2bin32(const BIGNUM *bn, uint8_t out[32])
{
    if (bn == nullptr || BN_num_bytes(bn) > 32) return 0;
    return BN_bn2binpad(bn, out, 32) == 32 ? 1 : 0;
}

BIGNUM *sm2_bin2bn(const uint8_t *bytes, size_t len, BIGNUM *bn)
{
    return BN_bin2bn(bytes, int(len < 32 ? len : 32), bn);
}

int sm2_is_zero(const uint8_t *bytes, size_t len)
{
    uint8_t acc = 0;
    for (size_t i = 0; i < len; ++i) acc |= bytes[i];
    return acc == 0 ? 1 : 0;
}

ECDSA_SIG *sm2_do_sign(const BIGNUM *e, const BIGNUM *d, int curveNid)
{
    if (e == nullptr || d == nullptr || !SmIsSm2CurveNid(curveNid)) {
        Fail(SM2_R_BAD_ARGUMENT);
        return nullptr;
    }
    EcGroupPtr group(SmCurveGroupNew(curveNid));
    if (!group) {
        Fail(SM2_R_EC_LIB);
        return nullptr;
    }
    EcdsaSigPtr sig(ECDSA_SIG_new());
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr k(BN_secure_new()), x1 = NewBn(), r = NewBn(), s = NewBn(), t(BN_secure_new());
    EcPointPtr kg(EC_POINT_new(group.get()));
    if (!sig || !ctx || !k || !x1 || !r || !s || !t || !kg) {
        Fail(SM2_R_MALLOC_FAILURE);
        return nullptr;
    }
    const BIGNUM *n = EC_GROUP_get0_order(group.get());
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    for (;;) {
        if (!DrawK(k.get(), n, ctx.get())) {
            Fail(SM2_R_RANDOM_FAILED);
            return nullptr;
        }
        if (!EC_POINT_mul(group.get(), kg.get(), k.get(), nullptr, nullptr, ctx.get()) ||
            !EC_POINT_get_affine_coordinates(group.get(), kg.get(), x1.get(), nullptr, ctx.get())) {
            Fail(SM2_R_EC_LIB);
            return nullptr;
        }
        if (!BN_mod_add(r.get(), e, x1.get(), n, ctx.get()) || !BN_add(t.get(), r.get(), k.get())) {
            Fail(SM2_R_BN_LIB);
            return nullptr;
        }
        if (BN_is_zero(r.get()) || BN_cmp(t.get(), n) == 0) continue;
        // s = (1 + d)^-1 * (k - r*d) mod n, the inverse of the secret
        // 1 + d by the library's branch-free inversion.
        BN_set_flags(t.get(), BN_FLG_CONSTTIME);
        if (!BN_add(t.get(), d, BN_value_one()) || !BN_mod_inverse(t.get(), t.get(), n, ctx.get()) ||
            !BN_mod_mul(s.get(), r.get(), d, n, ctx.get()) || !BN_mod_sub(s.get(), k.get(), s.get(), n, ctx.get()) ||
            !BN_mod_mul(s.get(), s.get(), t.get(), n, ctx.get())) {
            Fail(SM2_R_BN_LIB);
            return nullptr;
        }
        if (!BN_is_zero(s.get())) break;
    }
    ECDSA_SIG_set0(sig.get(), r.release(), s.release());
    return sig.release();
}

int sm2_do_verify(const ECDSA_SIG *sig, const BIGNUM *x, const BIGNUM *y, const BIGNUM *e, int curveNid)
{
    if (sig == nullptr || x == nullptr || y == nullptr || e == nullptr || !SmIsSm2CurveNid(curveNid)) {
        Fail(SM2_R_BAD_ARGUMENT);
        return 0;
    }
    EcGroupPtr group(SmCurveGroupNew(curveNid));
    BnCtxPtr ctx(BN_CTX_new());
    if (!group || !ctx) {
        Fail(SM2_R_EC_LIB);
        return 0;
    }
    const BIGNUM *n = EC_GROUP_get0_order(group.get());
    const BIGNUM *r = ECDSA_SIG_get0_r(sig);
    const BIGNUM *s = ECDSA_SIG_get0_s(sig);
    if (r == nullptr || s == nullptr || BN_is_zero(r) || BN_is_negative(r) || BN_cmp(r, n) >= 0 || BN_is_zero(s) ||
        BN_is_negative(s) || BN_cmp(s, n) >= 0) {
        Fail(SM2_R_EC_LIB);
        return 0;
    }
    BnPtr t = NewBn(), x1 = NewBn(), v = NewBn();
    EcPointPtr p = PointFrom(group.get(), x, y, ctx.get());
    EcPointPtr q(EC_POINT_new(group.get()));
    if (!t || !x1 || !v || !p || !q || !BN_mod_add(t.get(), r, s, n, ctx.get()) || BN_is_zero(t.get()) ||
        !EC_POINT_mul(group.get(), q.get(), s, p.get(), t.get(), ctx.get()) ||
        EC_POINT_is_at_infinity(group.get(), q.get()) ||
        !EC_POINT_get_affine_coordinates(group.get(), q.get(), x1.get(), nullptr, ctx.get()) ||
        !BN_mod_add(v.get(), e, x1.get(), n, ctx.get()) || BN_cmp(v.get(), r) != 0) {
        Fail(SM2_R_EC_LIB);
        return 0;
    }
    return 1;
}

int sm2_verify_raw(const uint8_t r[32], const uint8_t s[32], const uint8_t x[32], const uint8_t y[32],
                   const uint8_t digest[32])
{
    BnPtr br(sm2_bin2bn(r, 32, nullptr)), bs(sm2_bin2bn(s, 32, nullptr));
    BnPtr bx(sm2_bin2bn(x, 32, nullptr)), by(sm2_bin2bn(y, 32, nullptr));
    BnPtr be(sm2_bin2bn(digest, 32, nullptr));
    EcdsaSigPtr sig(ECDSA_SIG_new());
    if (!br || !bs || !bx || !by || !be || !sig) return 0;
    ECDSA_SIG_set0(sig.get(), br.release(), bs.release());
    return sm2_do_verify(sig.get(), bx.get(), by.get(), be.get(), SM_NID_SM2_CURVE);
}

int sm2_compute_z(const uint8_t *id, size_t idLen, const BIGNUM *a, const BIGNUM *b, const BIGNUM *gx, const BIGNUM *gy,
                  const BIGNUM *x, const BIGNUM *y, uint8_t z[32])
{
    // ENTL is a 16-bit count of bits.
    if ((id == nullptr && idLen > 0) || idLen > 0xFFFF / 8) return 0;
    uint8_t fields[6][32];
    const BIGNUM *values[6] = {a, b, gx, gy, x, y};
    for (int i = 0; i < 6; ++i) {
        if (!sm2_bn2bin32(values[i], fields[i])) return 0;
    }
    const uint8_t entl[2] = {uint8_t((idLen * 8) >> 8), uint8_t(idLen * 8)};
    SM3_CTX h;
    sm3_init(&h);
    sm3_update(&h, entl, sizeof entl);
    sm3_update(&h, id, idLen);
    sm3_update(&h, fields, sizeof fields);
    sm3_final(z, &h);
    return 1;
}

int sm2_compute_z_default(const uint8_t x[32], const uint8_t y[32], uint8_t z[32])
{
    BnPtr a = HexBn(kSm2Curve.a), b = HexBn(kSm2Curve.b), gx = HexBn(kSm2Curve.gx), gy = HexBn(kSm2Curve.gy);
    BnPtr bx(sm2_bin2bn(x, 32, nullptr)), by(sm2_bin2bn(y, 32, nullptr));
    if (!a || !b || !gx || !gy || !bx || !by) return 0;
    return sm2_compute_z(kDefaultId, kDefaultIdLen, a.get(), b.get(), gx.get(), gy.get(), bx.get(), by.get(), z);
}

int sm2_kdf(const uint8_t *in, size_t inLen, size_t outBits, uint8_t *out)
{
    if ((in == nullptr && inLen > 0) || (out == nullptr && outBits > 0)) return 0;
    KdfBytes(in, inLen, out, outBits / 8);
    return 1;
}

int sm2_do_encrypt(int curveNid, const uint8_t *msg, size_t len, const BIGNUM *x, const BIGNUM *y, uint8_t *out)
{
    if ((msg == nullptr && len > 0) || x == nullptr || y == nullptr || out == nullptr || !SmIsSm2CurveNid(curveNid) ||
        len > SIZE_MAX - SM2_CIPHER_OVERHEAD)
        return 0;
    EcGroupPtr group(SmCurveGroupNew(curveNid));
    BnCtxPtr ctx(BN_CTX_secure_new());
    if (!group || !ctx) return 0;
    EcPointPtr p = PointFrom(group.get(), x, y, ctx.get());
    EcPointPtr c1(EC_POINT_new(group.get())), shared(EC_POINT_new(group.get()));
    BnPtr k(BN_secure_new());
    if (!p || !c1 || !shared || !k || !CofactorCheck(group.get(), p.get(), ctx.get())) return 0;
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    const BIGNUM *n = EC_GROUP_get0_order(group.get());
    uint8_t *c2 = out + 1 + 2 * SM2_FIELD_BYTES;
    SharedPoint s2;
    for (;;) {
        if (!DrawK(k.get(), n, ctx.get()) ||
            !EC_POINT_mul(group.get(), c1.get(), k.get(), nullptr, nullptr, ctx.get()) ||
            !Coordinates32(group.get(), c1.get(), out + 1, out + 1 + SM2_FIELD_BYTES, ctx.get()) ||
            !EC_POINT_mul(group.get(), shared.get(), nullptr, p.get(), k.get(), ctx.get()) ||
            !Coordinates32(group.get(), shared.get(), s2.xy, s2.xy + 32, ctx.get()))
            return 0;
        KdfBytes(s2.xy, sizeof s2.xy, c2, len);
        // An empty message has an empty key stream, which no new k changes.
        if (len == 0 || !sm2_is_zero(c2, len)) break;
    }
    for (size_t i = 0; i < len; ++i) c2[i] ^= msg[i];
    HashC3(s2.xy, msg, len, s2.xy + 32, c2 + len);
    out[0] = 0x04;
    return 1;
}

int sm2_do_decrypt(int curveNid, const uint8_t *in, size_t totalLen, const BIGNUM *d, uint8_t *out)
{
    if (in == nullptr || d == nullptr || totalLen < SM2_CIPHER_OVERHEAD || in[0] != 0x04 || !SmIsSm2CurveNid(curveNid))
        return 0;
    size_t len = totalLen - SM2_CIPHER_OVERHEAD;
    if (out == nullptr && len > 0) return 0;
    EcGroupPtr group(SmCurveGroupNew(curveNid));
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr x1(sm2_bin2bn(in + 1, 32, nullptr)), y1(sm2_bin2bn(in + 33, 32, nullptr));
    if (!group || !ctx || !x1 || !y1) return 0;
    EcPointPtr c1 = PointFrom(group.get(), x1.get(), y1.get(), ctx.get());
    EcPointPtr shared(EC_POINT_new(group.get()));
    SharedPoint s2;
    if (!c1 || !shared || !CofactorCheck(group.get(), c1.get(), ctx.get()) ||
        !EC_POINT_mul(group.get(), shared.get(), nullptr, c1.get(), d, ctx.get()) ||
        !Coordinates32(group.get(), shared.get(), s2.xy, s2.xy + 32, ctx.get()))
        return 0;
    const uint8_t *c2 = in + 1 + 2 * SM2_FIELD_BYTES;
    KdfBytes(s2.xy, sizeof s2.xy, out, len);
    if (len > 0 && sm2_is_zero(out, len)) {
        OPENSSL_cleanse(out, len);
        return 0;
    }
    for (size_t i = 0; i < len; ++i) out[i] ^= c2[i];
    uint8_t u[32];
    HashC3(s2.xy, out, len, s2.xy + 32, u);
    // A plaintext that fails its check must not reach the caller.
    if (CRYPTO_memcmp(u, c2 + len, sizeof u) != 0) {
        OPENSSL_cleanse(out, len);
        return 0;
    }
    return 1;
}

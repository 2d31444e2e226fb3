#include "Sm2Pkey.h"

#include "OsslPtr.h"
#include "Sm2.h"
#include "Sm2Asn1.h"
#include "Sm3.h"
#include "SmObjects.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <cstring>
#include <vector>

namespace {

struct PublicPoint {
    uint8_t x[32];
    uint8_t y[32];
};

struct Sm2CipherFree {
    void operator()(SM2Cipher *c) const { SM2Cipher_free(c); }
};
using Sm2CipherPtr = std::unique_ptr<SM2Cipher, Sm2CipherFree>;

int GroupNid(const EVP_PKEY *pkey)
{
    char name[80];
    size_t len = 0;
    if (!EVP_PKEY_get_group_name(pkey, name, sizeof name, &len)) return NID_undef;
    return OBJ_txt2nid(name);
}

// By name, not type id: the library gives keys it decodes from DER, PEM or
// a certificate no type id at all.
bool IsEcKey(const EVP_PKEY *pkey)
{
    return EVP_PKEY_is_a(pkey, "EC") || EVP_PKEY_is_a(pkey, "SM2");
}

bool PublicOf(const EVP_PKEY *pkey, PublicPoint *pub)
{
    unsigned char enc[1 + 2 * 32];
    size_t len = 0;
    EcGroupPtr group(EC_GROUP_new_by_curve_name(SM_NID_SM2_CURVE));
    BnCtxPtr ctx(BN_CTX_new());
    if (!group || !ctx || !EVP_PKEY_get_octet_string_param(pkey, OSSL_PKEY_PARAM_PUB_KEY, enc, sizeof enc, &len))
        return false;
    EcPointPtr p(EC_POINT_new(group.get()));
    BnPtr x(BN_new()), y(BN_new());
    return p && x && y && EC_POINT_oct2point(group.get(), p.get(), enc, len, ctx.get()) &&
        EC_POINT_get_affine_coordinates(group.get(), p.get(), x.get(), y.get(), ctx.get()) &&
        sm2_bn2bin32(x.get(), pub->x) && sm2_bn2bin32(y.get(), pub->y);
}

BnPtr PrivateOf(const EVP_PKEY *pkey)
{
    BIGNUM *d = nullptr;
    if (!EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_PRIV_KEY, &d)) return nullptr;
    return BnPtr(d);
}

// Length of a DER element whose contents take n bytes.
size_t DerLength(size_t n)
{
    size_t header = 2;
    for (size_t v = n; n >= 0x80 && v > 0; v >>= 8) ++header;
    return header + n;
}

size_t CipherDerBound(size_t inlen)
{
    // INTEGERs of up to 33 bytes (a sign byte), a 32-byte HASH.
    return DerLength(2 * DerLength(33) + DerLength(32) + DerLength(inlen));
}

int pkey_sm2_sign(EVP_PKEY *pkey, unsigned char *sig, size_t *siglen, const unsigned char *dgst, size_t dgstlen)
{
    // The SM2 digest is always 32 bytes; any other length is a caller's
    // mistake that would otherwise be signed as a different number.
    if (dgstlen != SM3_DIGEST_LENGTH) return -1;
    BnPtr d = PrivateOf(pkey);
    BnPtr e(sm2_bin2bn(dgst, dgstlen, nullptr));
    if (!d || !e) return -1;
    EcdsaSigPtr s(sm2_do_sign(e.get(), d.get(), SM_NID_SM2_CURVE));
    if (!s) return -1;
    int len = i2d_ECDSA_SIG(s.get(), nullptr);
    if (len <= 0 || size_t(len) > *siglen) return -1;
    unsigned char *p = sig;
    i2d_ECDSA_SIG(s.get(), &p);
    *siglen = size_t(len);
    return 1;
}

// One signature has one encoding: a BER form of it (long-form lengths and
// the like) would be a second signature over the same digest.
bool IsDer(const ECDSA_SIG *s, const unsigned char *sig, size_t siglen)
{
    unsigned char *der = nullptr;
    int len = i2d_ECDSA_SIG(s, &der);
    bool same = len > 0 && size_t(len) == siglen && std::memcmp(der, sig, siglen) == 0;
    OPENSSL_free(der);
    return same;
}

int pkey_sm2_verify(EVP_PKEY *pkey, const unsigned char *sig, size_t siglen, const unsigned char *dgst, size_t dgstlen)
{
    PublicPoint pub;
    if (dgstlen != SM3_DIGEST_LENGTH || sig == nullptr || !PublicOf(pkey, &pub)) return -1;
    const unsigned char *p = sig;
    EcdsaSigPtr s(d2i_ECDSA_SIG(nullptr, &p, long(siglen)));
    if (!s || p != sig + siglen || !IsDer(s.get(), sig, siglen)) return -1;
    const BIGNUM *r = ECDSA_SIG_get0_r(s.get());
    const BIGNUM *sv = ECDSA_SIG_get0_s(s.get());
    uint8_t r32[32], s32[32];
    if (BN_is_negative(r) || BN_is_negative(sv) || BN_num_bytes(r) < 1 || BN_num_bytes(sv) < 1 ||
        !sm2_bn2bin32(r, r32) || !sm2_bn2bin32(sv, s32))
        return -1;
    return sm2_verify_raw(r32, s32, pub.x, pub.y, dgst) == 1 ? 1 : -1;
}

int LibrarySign(EVP_PKEY *pkey, unsigned char *sig, size_t *siglen, const unsigned char *dgst, size_t dgstlen)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0) return -1;
    return EVP_PKEY_sign(ctx.get(), sig, siglen, dgst, dgstlen);
}

int LibraryVerify(EVP_PKEY *pkey, const unsigned char *sig, size_t siglen, const unsigned char *dgst, size_t dgstlen)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) <= 0) return -1;
    return EVP_PKEY_verify(ctx.get(), sig, siglen, dgst, dgstlen);
}

bool SetOctets(ASN1_OCTET_STRING *s, const uint8_t *data, size_t len)
{
    return len <= size_t(INT32_MAX) && ASN1_OCTET_STRING_set(s, data, int(len));
}

// 1 valid, 0 invalid, -1 error.
int VerifySignedBytes(const X509_ALGOR *alg, const ASN1_BIT_STRING *signature, const unsigned char *tbs, size_t tbslen,
                      EVP_PKEY *pkey)
{
    if (pkey == nullptr || alg == nullptr || signature == nullptr) {
        ERR_raise(ERR_LIB_ASN1, ERR_R_PASSED_NULL_PARAMETER);
        return -1;
    }
    const ASN1_OBJECT *obj = nullptr;
    X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
    int mdNid = NID_undef, pkNid = NID_undef;
    const EVP_MD *md = nullptr;
    if (!OBJ_find_sigid_algs(OBJ_obj2nid(obj), &mdNid, &pkNid) || (md = EVP_get_digestbynid(mdNid)) == nullptr) {
        ERR_raise(ERR_LIB_ASN1, ASN1_R_UNKNOWN_SIGNATURE_ALGORITHM);
        return -1;
    }
    if (IsEcKey(pkey) && GroupNid(pkey) == NID_undef) {
        ERR_raise(ERR_LIB_ASN1, ERR_R_EC_LIB);
        return 0;
    }
    if (!SmPkeyIsSm2(pkey)) {
        MdCtxPtr mctx(EVP_MD_CTX_new());
        return mctx && EVP_DigestVerifyInit(mctx.get(), nullptr, md, nullptr, pkey) > 0 &&
                EVP_DigestVerify(mctx.get(), signature->data, size_t(signature->length), tbs, tbslen) == 1
            ? 1
            : 0;
    }
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int digestLen = 0;
    if (mdNid == SM_NID_SM3) {
        PublicPoint pub;
        uint8_t z[32];
        if (!PublicOf(pkey, &pub) || !sm2_compute_z_default(pub.x, pub.y, z)) return 0;
        SM3_CTX h;
        sm3_init(&h);
        sm3_update(&h, z, sizeof z);
        sm3_update(&h, tbs, tbslen);
        sm3_final(digest, &h);
        digestLen = SM3_DIGEST_LENGTH;
    } else if (!EVP_Digest(tbs, tbslen, digest, &digestLen, md, nullptr)) {
        return 0;
    }
    return pkey_sm2_verify(pkey, signature->data, size_t(signature->length), digest, digestLen) == 1 ? 1 : 0;
}

} // namespace

// By the curve alone, whatever the key's type. Only the recommended curve:
// a key on the example curve has explicit parameters inside OpenSSL 3's
// EVP_PKEY, which keeps no curve name that would tell it apart. The raw
// SM2 routines take both curves.
bool SmPkeyIsSm2(const EVP_PKEY *pkey)
{
    return pkey != nullptr && GroupNid(pkey) == SM_NID_SM2_CURVE;
}

int pkey_ec_sign(EVP_PKEY *pkey, unsigned char *sig, size_t *siglen, const unsigned char *dgst, size_t dgstlen)
{
    if (pkey == nullptr || siglen == nullptr || !IsEcKey(pkey)) return -1;
    int size = EVP_PKEY_get_size(pkey);
    if (size <= 0) return -1;
    if (sig == nullptr) {
        *siglen = size_t(size);
        return 1;
    }
    if (*siglen < size_t(size)) {
        ERR_raise(ERR_LIB_EC, EC_R_BUFFER_TOO_SMALL);
        return 0;
    }
    if (dgst == nullptr) return -1;
    return SmPkeyIsSm2(pkey) ? pkey_sm2_sign(pkey, sig, siglen, dgst, dgstlen)
                             : LibrarySign(pkey, sig, siglen, dgst, dgstlen);
}

int pkey_ec_verify(EVP_PKEY *pkey, const unsigned char *sig, size_t siglen, const unsigned char *dgst, size_t dgstlen)
{
    if (pkey == nullptr || sig == nullptr || dgst == nullptr || !IsEcKey(pkey)) return -1;
    return SmPkeyIsSm2(pkey) ? pkey_sm2_verify(pkey, sig, siglen, dgst, dgstlen)
                             : LibraryVerify(pkey, sig, siglen, dgst, dgstlen);
}

int pkey_sm2_encrypt(EVP_PKEY *pkey, unsigned char *out, size_t *outlen, const unsigned char *in, size_t inlen)
{
    // Ciphertext for a key on another curve could never be decrypted.
    if (outlen == nullptr || (in == nullptr && inlen > 0) || !SmPkeyIsSm2(pkey) || inlen > size_t(INT32_MAX) - 256)
        return -1;
    if (out == nullptr) {
        *outlen = CipherDerBound(inlen);
        return 1;
    }
    PublicPoint pub;
    if (!PublicOf(pkey, &pub)) return -1;
    BnPtr x(sm2_bin2bn(pub.x, 32, nullptr)), y(sm2_bin2bn(pub.y, 32, nullptr));
    std::vector<uint8_t> raw(inlen + SM2_CIPHER_OVERHEAD);
    if (!x || !y || !sm2_do_encrypt(SM_NID_SM2_CURVE, in, inlen, x.get(), y.get(), raw.data())) return -1;
    Sm2CipherPtr c(SM2Cipher_new());
    const uint8_t *c2 = raw.data() + 1 + 2 * SM2_FIELD_BYTES;
    bool ok = c && BN_bin2bn(raw.data() + 1, 32, c->XCoordinate) && BN_bin2bn(raw.data() + 33, 32, c->YCoordinate) &&
        SetOctets(c->HASH, c2 + inlen, 32) && SetOctets(c->cipherText, c2, inlen);
    OPENSSL_cleanse(raw.data(), raw.size());
    int len = ok ? i2d_SM2Cipher(c.get(), nullptr) : -1;
    if (len <= 0 || size_t(len) > *outlen) return -1;
    unsigned char *p = out;
    i2d_SM2Cipher(c.get(), &p);
    *outlen = size_t(len);
    return 1;
}

int pkey_sm2_decrypt(EVP_PKEY *pkey, unsigned char *out, size_t *outlen, const unsigned char *in, size_t inlen)
{
    if (outlen == nullptr || in == nullptr || !SmPkeyIsSm2(pkey) || inlen > size_t(INT32_MAX)) return -1;
    const unsigned char *p = in;
    Sm2CipherPtr c(d2i_SM2Cipher(nullptr, &p, long(inlen)));
    // Coordinates and HASH wider than their fields would overrun the raw
    // form; a shorter HASH would shift C3 into the message.
    if (!c || p != in + inlen || BN_is_negative(c->XCoordinate) || BN_is_negative(c->YCoordinate) ||
        BN_num_bytes(c->XCoordinate) > 32 || BN_num_bytes(c->YCoordinate) > 32 || ASN1_STRING_length(c->HASH) != 32)
        return -1;
    size_t len = size_t(ASN1_STRING_length(c->cipherText));
    if (out == nullptr) {
        *outlen = len;
        return 1;
    }
    if (*outlen < len) return -1;
    BnPtr d = PrivateOf(pkey);
    std::vector<uint8_t> raw(len + SM2_CIPHER_OVERHEAD);
    raw[0] = 0x04;
    if (!d || !sm2_bn2bin32(c->XCoordinate, &raw[1]) || !sm2_bn2bin32(c->YCoordinate, &raw[33])) return -1;
    std::memcpy(&raw[65], ASN1_STRING_get0_data(c->cipherText), len);
    std::memcpy(&raw[65 + len], ASN1_STRING_get0_data(c->HASH), 32);
    if (!sm2_do_decrypt(SM_NID_SM2_CURVE, raw.data(), raw.size(), d.get(), out)) return -1;
    *outlen = len;
    return 1;
}

int SmAsn1ItemVerify(const ASN1_ITEM *it, const X509_ALGOR *alg, const ASN1_BIT_STRING *signature, const void *data,
                     EVP_PKEY *pkey)
{
    if (pkey == nullptr || it == nullptr || data == nullptr) {
        ERR_raise(ERR_LIB_ASN1, ERR_R_PASSED_NULL_PARAMETER);
        return -1;
    }
    unsigned char *tbs = nullptr;
    int len = ASN1_item_i2d(static_cast<const ASN1_VALUE *>(data), &tbs, it);
    if (len <= 0) return -1;
    int r = VerifySignedBytes(alg, signature, tbs, size_t(len), pkey);
    OPENSSL_clear_free(tbs, size_t(len));
    return r;
}

int SmX509Verify(const X509 *cert, EVP_PKEY *pkey)
{
    if (cert == nullptr || pkey == nullptr) return -1;
    // The certificate's own bytes, not a re-encoding: the signature covers
    // exactly what the issuer wrote.
    unsigned char *der = nullptr;
    int derLen = i2d_X509(cert, &der);
    if (derLen <= 0) return -1;
    const unsigned char *p = der;
    long len = 0;
    int tag = 0, cls = 0;
    int r = -1;
    if (!(ASN1_get_object(&p, &len, &tag, &cls, derLen) & 0x80) && tag == V_ASN1_SEQUENCE) {
        const unsigned char *tbs = p;
        long tbsLen = 0;
        if (!(ASN1_get_object(&p, &tbsLen, &tag, &cls, len) & 0x80) && tag == V_ASN1_SEQUENCE) {
            const ASN1_BIT_STRING *sig = nullptr;
            const X509_ALGOR *alg = nullptr;
            X509_get0_signature(&sig, &alg, cert);
            r = VerifySignedBytes(alg, sig, tbs, size_t(p - tbs) + size_t(tbsLen), pkey);
        }
    }
    OPENSSL_free(der);
    return r;
}

#include "TokenCrypto.h"

#include "DeviceTable.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

namespace tokensim {
namespace {

using devicelib::UK_ALG_RSA;
using devicelib::UK_ALG_SM2;
using devicelib::UK_OK;

// An owner of an OpenSSL object that frees it with its own function.
template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Freer<T, Free>>;
using Bn = Owned<BIGNUM, BN_free>;
using PkeyCtx = Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using MdCtx = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using EcdsaSig = Owned<ECDSA_SIG, ECDSA_SIG_free>;

constexpr std::size_t kSm2Len = 32;

Bn ToBn(const Bytes& b)
{
    return Bn(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr));
}

bool FromBnParam(const EVP_PKEY* pkey, const char* name, std::size_t width, Bytes& out)
{
    BIGNUM* bn = nullptr;
    if (!EVP_PKEY_get_bn_param(pkey, name, &bn)) return false;
    out.assign(width, 0);
    bool ok = BN_bn2binpad(bn, out.data(), static_cast<int>(width)) == static_cast<int>(width);
    BN_clear_free(bn);
    return ok;
}

bool Sm2Point(const Bytes& x, const Bytes& y, Bytes& point)
{
    if (x.size() != kSm2Len || y.size() != kSm2Len) return false;
    point.assign(1, 0x04);
    point.insert(point.end(), x.begin(), x.end());
    point.insert(point.end(), y.begin(), y.end());
    return true;
}

Pkey FromData(const char* type, OSSL_PARAM_BLD* builder, bool withPrivate)
{
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(builder);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* pkey = nullptr;
    if (params && ctx && EVP_PKEY_fromdata_init(ctx.get()) > 0)
        EVP_PKEY_fromdata(ctx.get(), &pkey, withPrivate ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params);
    OSSL_PARAM_free(params);
    return Pkey(pkey);
}

Pkey RsaPkey(const KeyPair& key, bool withPrivate)
{
    static const char* const kPrivateNames[] = {OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                                                OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                                                OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    if (key.publicPart.size() != 2 || (withPrivate && key.privatePart.size() != 6)) return nullptr;
    std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> builder(OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
    std::vector<Bn> values;
    values.push_back(ToBn(key.publicPart[0]));
    values.push_back(ToBn(key.publicPart[1]));
    bool ok = builder && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, values[0].get()) &&
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, values[1].get());
    for (std::size_t i = 0; ok && withPrivate && i < 6; ++i) {
        values.push_back(ToBn(key.privatePart[i]));
        ok = OSSL_PARAM_BLD_push_BN(builder.get(), kPrivateNames[i], values.back().get());
    }
    return ok ? FromData("RSA", builder.get(), withPrivate) : nullptr;
}

Pkey Sm2Pkey(const KeyPair& key, bool withPrivate)
{
    Bytes point;
    if (key.publicPart.size() != 2 || !Sm2Point(key.publicPart[0], key.publicPart[1], point) ||
        (withPrivate && key.privatePart.size() != 1))
        return nullptr;
    std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> builder(OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
    Bn d = withPrivate ? ToBn(key.privatePart[0]) : nullptr;
    bool ok = builder && OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) &&
        OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) &&
        (!withPrivate || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get()));
    return ok ? FromData("SM2", builder.get(), withPrivate) : nullptr;
}

PkeyCtx CtxFor(const Pkey& pkey)
{
    return PkeyCtx(pkey ? EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.get(), nullptr) : nullptr);
}

bool SetRsaPadding(EVP_PKEY_CTX* ctx, std::uint8_t padding)
{
    return EVP_PKEY_CTX_set_rsa_padding(ctx, padding == devicelib::UK_PAD_NONE ? RSA_NO_PADDING : RSA_PKCS1_PADDING) >
        0;
}

bool DerSigToRs(const Bytes& der, Bytes& rs)
{
    const unsigned char* p = der.data();
    EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
    if (!sig) return false;
    const BIGNUM *r, *s;
    ECDSA_SIG_get0(sig.get(), &r, &s);
    rs.assign(2 * kSm2Len, 0);
    return BN_bn2binpad(r, rs.data(), kSm2Len) == kSm2Len && BN_bn2binpad(s, rs.data() + kSm2Len, kSm2Len) == kSm2Len;
}

bool RsToDerSig(const Bytes& rs, Bytes& der)
{
    if (rs.size() != 2 * kSm2Len) return false;
    EcdsaSig sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(rs.data(), kSm2Len, nullptr);
    BIGNUM* s = BN_bin2bn(rs.data() + kSm2Len, kSm2Len, nullptr);
    if (!sig || !r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    int len = i2d_ECDSA_SIG(sig.get(), nullptr);
    if (len <= 0) return false;
    der.resize(len);
    unsigned char* p = der.data();
    return i2d_ECDSA_SIG(sig.get(), &p) == len;
}

// OpenSSL carries SM2 ciphertexts as DER SEQUENCE {x, y, C3, C2}; the token
// speaks 04 || x || y || C2 || C3.
void DerLength(Bytes& out, std::size_t len)
{
    if (len < 0x80) {
        out.push_back(static_cast<std::uint8_t>(len));
        return;
    }
    Bytes digits;
    for (; len; len >>= 8) digits.insert(digits.begin(), static_cast<std::uint8_t>(len));
    out.push_back(static_cast<std::uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

void DerItem(Bytes& out, std::uint8_t tag, const std::uint8_t* content, std::size_t len)
{
    out.push_back(tag);
    DerLength(out, len);
    out.insert(out.end(), content, content + len);
}

void DerUnsigned(Bytes& out, const std::uint8_t* be, std::size_t len)
{
    while (len > 1 && *be == 0) ++be, --len;
    Bytes value;
    if (*be & 0x80) value.push_back(0);
    value.insert(value.end(), be, be + len);
    DerItem(out, 0x02, value.data(), value.size());
}

bool DerRead(const std::uint8_t*& p, const std::uint8_t* end, std::uint8_t tag, const std::uint8_t*& content,
             std::size_t& len)
{
    if (end - p < 2 || *p++ != tag) return false;
    std::size_t n = *p++;
    if (n & 0x80) {
        std::size_t digits = n & 0x7F;
        if (digits == 0 || digits > 3 || static_cast<std::size_t>(end - p) < digits) return false;
        for (n = 0; digits; --digits) n = n << 8 | *p++;
    }
    if (static_cast<std::size_t>(end - p) < n) return false;
    content = p;
    len = n;
    p += n;
    return true;
}

bool Sm2RawToDer(const Bytes& raw, Bytes& der)
{
    if (raw.size() < 1 + 2 * kSm2Len + kSm2Len || raw[0] != 0x04) return false;
    const std::uint8_t* x = raw.data() + 1;
    const std::uint8_t* y = x + kSm2Len;
    const std::uint8_t* c2 = y + kSm2Len;
    std::size_t c2Len = raw.size() - 1 - 3 * kSm2Len;
    const std::uint8_t* c3 = c2 + c2Len;
    Bytes body;
    DerUnsigned(body, x, kSm2Len);
    DerUnsigned(body, y, kSm2Len);
    DerItem(body, 0x04, c3, kSm2Len);
    DerItem(body, 0x04, c2, c2Len);
    der.clear();
    DerItem(der, 0x30, body.data(), body.size());
    return true;
}

bool Sm2DerToRaw(const Bytes& der, Bytes& raw)
{
    const std::uint8_t* p = der.data();
    const std::uint8_t* end = p + der.size();
    const std::uint8_t *seq, *x, *y, *c3, *c2;
    std::size_t seqLen, xLen, yLen, c3Len, c2Len;
    if (!DerRead(p, end, 0x30, seq, seqLen)) return false;
    p = seq;
    end = seq + seqLen;
    if (!DerRead(p, end, 0x02, x, xLen) || !DerRead(p, end, 0x02, y, yLen) || !DerRead(p, end, 0x04, c3, c3Len) ||
        !DerRead(p, end, 0x04, c2, c2Len) || c3Len != kSm2Len)
        return false;
    auto fixed = [&raw](const std::uint8_t* v, std::size_t len) {
        while (len > kSm2Len && *v == 0) ++v, --len;
        if (len > kSm2Len) return false;
        raw.insert(raw.end(), kSm2Len - len, 0);
        raw.insert(raw.end(), v, v + len);
        return true;
    };
    raw.assign(1, 0x04);
    if (!fixed(x, xLen) || !fixed(y, yLen)) return false;
    raw.insert(raw.end(), c2, c2 + c2Len);
    raw.insert(raw.end(), c3, c3 + c3Len);
    return true;
}

template <typename Op>
bool RunSized(Op op, Bytes& out)
{
    std::size_t len = 0;
    if (op(nullptr, &len) <= 0) return false;
    out.resize(len);
    if (op(out.data(), &len) <= 0) return false;
    out.resize(len);
    return true;
}

} // namespace

bool GenerateKeyPair(std::uint32_t algorithm, std::uint32_t bits, KeyPair& key)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, algorithm == UK_ALG_RSA ? "RSA" : "SM2", nullptr));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0) return false;
    if (algorithm == UK_ALG_RSA && EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) <= 0)
        return false;
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_generate(ctx.get(), &raw) <= 0) return false;
    Pkey pkey(raw);
    key.algorithm = algorithm;
    key.bits = bits;
    key.publicPart.assign(2, Bytes());
    if (algorithm == UK_ALG_SM2) {
        key.privatePart.assign(1, Bytes());
        return FromBnParam(raw, OSSL_PKEY_PARAM_EC_PUB_X, kSm2Len, key.publicPart[0]) &&
            FromBnParam(raw, OSSL_PKEY_PARAM_EC_PUB_Y, kSm2Len, key.publicPart[1]) &&
            FromBnParam(raw, OSSL_PKEY_PARAM_PRIV_KEY, kSm2Len, key.privatePart[0]);
    }
    static const char* const kNames[] = {OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                                         OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                                         OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    std::size_t n = bits / 8;
    key.privatePart.assign(6, Bytes());
    bool ok = FromBnParam(raw, OSSL_PKEY_PARAM_RSA_N, n, key.publicPart[0]) &&
        FromBnParam(raw, OSSL_PKEY_PARAM_RSA_E, n, key.publicPart[1]);
    for (std::size_t i = 0; ok && i < 6; ++i) ok = FromBnParam(raw, kNames[i], i == 0 ? n : n / 2, key.privatePart[i]);
    return ok;
}

bool Sm2PublicFromScalar(const Bytes& scalar, Bytes& x, Bytes& y)
{
    std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(EC_GROUP_new_by_curve_name(NID_sm2), EC_GROUP_free);
    if (!group) return false;
    std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> point(EC_POINT_new(group.get()), EC_POINT_free);
    Bn d = ToBn(scalar), bx(BN_new()), by(BN_new());
    if (!point || !d || !bx || !by || BN_is_zero(d.get()) || BN_cmp(d.get(), EC_GROUP_get0_order(group.get())) >= 0 ||
        !EC_POINT_mul(group.get(), point.get(), d.get(), nullptr, nullptr, nullptr) ||
        !EC_POINT_get_affine_coordinates(group.get(), point.get(), bx.get(), by.get(), nullptr))
        return false;
    x.assign(kSm2Len, 0);
    y.assign(kSm2Len, 0);
    return BN_bn2binpad(bx.get(), x.data(), kSm2Len) == kSm2Len && BN_bn2binpad(by.get(), y.data(), kSm2Len) == kSm2Len;
}

Pkey ToPkey(const KeyPair& key, bool withPrivate)
{
    return key.algorithm == UK_ALG_RSA ? RsaPkey(key, withPrivate) : Sm2Pkey(key, withPrivate);
}

std::uint32_t SignBlock(const KeyPair& key, std::uint8_t padding, const Bytes& block, Bytes& out)
{
    PkeyCtx ctx = CtxFor(ToPkey(key, true));
    if (!ctx) return devicelib::UK_SW_REF_NOT_FOUND;
    if (key.algorithm == UK_ALG_RSA && padding == devicelib::UK_PAD_NONE) {
        // A raw private-key operation: the caller formats the whole block.
        if (block.size() != key.bits / 8) return devicelib::UK_SW_WRONG_LENGTH;
        bool ok = EVP_PKEY_decrypt_init(ctx.get()) > 0 && SetRsaPadding(ctx.get(), padding) &&
            RunSized([&](unsigned char* o,
                         size_t* l) { return EVP_PKEY_decrypt(ctx.get(), o, l, block.data(), block.size()); },
                     out);
        return ok ? UK_OK : devicelib::UK_SW_WRONG_DATA;
    }
    if (key.algorithm == UK_ALG_RSA) {
        if (block.size() + 11 > key.bits / 8) return devicelib::UK_SW_WRONG_LENGTH;
        bool ok = EVP_PKEY_sign_init(ctx.get()) > 0 && SetRsaPadding(ctx.get(), padding) &&
            RunSized([&](unsigned char* o,
                         size_t* l) { return EVP_PKEY_sign(ctx.get(), o, l, block.data(), block.size()); },
                     out);
        return ok ? UK_OK : devicelib::UK_SW_WRONG_DATA;
    }
    if (block.size() != kSm2Len) return devicelib::UK_SW_WRONG_LENGTH;
    Bytes der;
    bool ok = EVP_PKEY_sign_init(ctx.get()) > 0 &&
        RunSized([&](unsigned char* o,
                     size_t* l) { return EVP_PKEY_sign(ctx.get(), o, l, block.data(), block.size()); },
                 der) &&
        DerSigToRs(der, out);
    return ok ? UK_OK : devicelib::UK_SW_WRONG_DATA;
}

std::uint32_t SignData(const KeyPair& key, std::uint32_t modeByte, const Bytes& data, Bytes& out)
{
    Pkey pkey = ToPkey(key, true);
    PkeyCtx ctx = CtxFor(pkey);
    MdCtx md(EVP_MD_CTX_new());
    if (!ctx || !md) return devicelib::UK_SW_REF_NOT_FOUND;
    const char* digest = key.algorithm == UK_ALG_SM2 ? "SM3" : modeByte == 2 ? "SHA256" : "SHA1";
    if (key.algorithm == UK_ALG_SM2 && EVP_PKEY_CTX_set1_id(ctx.get(), kSm2DefaultId, sizeof kSm2DefaultId - 1) <= 0)
        return devicelib::UK_SW_WRONG_DATA;
    EVP_MD_CTX_set_pkey_ctx(md.get(), ctx.get());
    Bytes sig;
    bool ok = EVP_DigestSignInit_ex(md.get(), nullptr, digest, nullptr, nullptr, pkey.get(), nullptr) > 0 &&
        (key.algorithm == UK_ALG_SM2 || SetRsaPadding(ctx.get(), devicelib::UK_PAD_PKCS1)) &&
        RunSized([&](unsigned char* o, size_t* l) { return EVP_DigestSign(md.get(), o, l, data.data(), data.size()); },
                 sig);
    EVP_MD_CTX_set_pkey_ctx(md.get(), nullptr);
    if (!ok) return devicelib::UK_SW_WRONG_DATA;
    if (key.algorithm == UK_ALG_RSA) {
        out = sig;
        return UK_OK;
    }
    return DerSigToRs(sig, out) ? UK_OK : devicelib::UK_SW_WRONG_DATA;
}

std::uint32_t VerifyRecover(const KeyPair& key, std::uint8_t padding, const Bytes& signature, Bytes& out)
{
    PkeyCtx ctx = CtxFor(ToPkey(key, false));
    if (!ctx) return devicelib::UK_SW_REF_NOT_FOUND;
    if (signature.size() != key.bits / 8) return devicelib::UK_SW_WRONG_LENGTH;
    bool ok = EVP_PKEY_verify_recover_init(ctx.get()) > 0 && SetRsaPadding(ctx.get(), padding) &&
        RunSized(
                  [&](unsigned char* o, size_t* l) {
                      return EVP_PKEY_verify_recover(ctx.get(), o, l, signature.data(), signature.size());
                  },
                  out);
    return ok ? UK_OK : devicelib::UK_SW_VERIFY_FAILED;
}

std::uint32_t VerifySm2(const KeyPair& key, const Bytes& digest, const Bytes& rs)
{
    PkeyCtx ctx = CtxFor(ToPkey(key, false));
    if (!ctx) return devicelib::UK_SW_REF_NOT_FOUND;
    Bytes der;
    if (digest.size() != kSm2Len || !RsToDerSig(rs, der)) return devicelib::UK_SW_WRONG_LENGTH;
    bool ok = EVP_PKEY_verify_init(ctx.get()) > 0 &&
        EVP_PKEY_verify(ctx.get(), der.data(), der.size(), digest.data(), digest.size()) == 1;
    return ok ? UK_OK : devicelib::UK_SW_VERIFY_FAILED;
}

std::uint32_t PublicEncrypt(const KeyPair& key, std::uint8_t padding, const Bytes& in, Bytes& out)
{
    PkeyCtx ctx = CtxFor(ToPkey(key, false));
    if (!ctx) return devicelib::UK_SW_REF_NOT_FOUND;
    if (in.empty()) return devicelib::UK_SW_WRONG_LENGTH;
    if (key.algorithm == UK_ALG_RSA) {
        bool ok = EVP_PKEY_encrypt_init(ctx.get()) > 0 && SetRsaPadding(ctx.get(), padding) &&
            RunSized([&](unsigned char* o,
                         size_t* l) { return EVP_PKEY_encrypt(ctx.get(), o, l, in.data(), in.size()); },
                     out);
        return ok ? UK_OK : devicelib::UK_SW_WRONG_DATA;
    }
    Bytes der;
    bool ok = EVP_PKEY_encrypt_init(ctx.get()) > 0 &&
        RunSized([&](unsigned char* o, size_t* l) { return EVP_PKEY_encrypt(ctx.get(), o, l, in.data(), in.size()); },
                 der) &&
        Sm2DerToRaw(der, out);
    return ok ? UK_OK : devicelib::UK_SW_WRONG_DATA;
}

std::uint32_t PrivateDecrypt(const KeyPair& key, std::uint8_t padding, const Bytes& in, Bytes& out)
{
    PkeyCtx ctx = CtxFor(ToPkey(key, true));
    if (!ctx) return devicelib::UK_SW_REF_NOT_FOUND;
    Bytes input = in;
    if (key.algorithm == UK_ALG_SM2 && !Sm2RawToDer(in, input)) return devicelib::UK_SW_WRONG_LENGTH;
    if (key.algorithm == UK_ALG_RSA && in.size() != key.bits / 8) return devicelib::UK_SW_WRONG_LENGTH;
    bool ok = EVP_PKEY_decrypt_init(ctx.get()) > 0 &&
        (key.algorithm == UK_ALG_SM2 || SetRsaPadding(ctx.get(), padding)) &&
        RunSized([&](unsigned char* o,
                     size_t* l) { return EVP_PKEY_decrypt(ctx.get(), o, l, input.data(), input.size()); },
                 out);
    return ok ? UK_OK : devicelib::UK_SW_WRONG_DATA;
}

bool RandomBytes(std::uint8_t* out, std::size_t len)
{
    return RAND_bytes(out, static_cast<int>(len)) == 1;
}

Digest::Digest(std::uint32_t vendorAlgorithm)
{
    const char* name = vendorAlgorithm == devicelib::UK_HASH_MD5 ? "MD5"
        : vendorAlgorithm == devicelib::UK_HASH_SHA1             ? "SHA1"
        : vendorAlgorithm == devicelib::UK_HASH_SHA256           ? "SHA256"
        : vendorAlgorithm == devicelib::UK_HASH_SM3              ? "SM3"
                                                                 : nullptr;
    EVP_MD* md = name ? EVP_MD_fetch(nullptr, name, nullptr) : nullptr;
    if (!md) return;
    m_ctx = EVP_MD_CTX_new();
    if (m_ctx && EVP_DigestInit_ex2(m_ctx, md, nullptr) <= 0) {
        EVP_MD_CTX_free(m_ctx);
        m_ctx = nullptr;
    }
    EVP_MD_free(md);
}

Digest::~Digest()
{
    EVP_MD_CTX_free(m_ctx);
}

bool Digest::Update(const std::uint8_t* data, std::size_t len)
{
    return EVP_DigestUpdate(m_ctx, data, len) > 0;
}

bool Digest::Final(Bytes& out)
{
    out.resize(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(m_ctx, out.data(), &len) <= 0) return false;
    out.resize(len);
    return true;
}

BlockCipher::~BlockCipher()
{
    EVP_CIPHER_CTX_free(m_ctx);
}

bool BlockCipher::Start(const char* name, const Bytes& key, const Bytes& iv, bool encrypt, bool pad)
{
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EVP_CIPHER_CTX_free(m_ctx);
    m_ctx = EVP_CIPHER_CTX_new();
    bool ok = cipher && m_ctx && EVP_CIPHER_get_key_length(cipher) == static_cast<int>(key.size()) &&
        (EVP_CIPHER_get_iv_length(cipher) == 0 || static_cast<int>(iv.size()) == EVP_CIPHER_get_iv_length(cipher)) &&
        EVP_CipherInit_ex2(m_ctx, cipher, key.data(), iv.empty() ? nullptr : iv.data(), encrypt ? 1 : 0, nullptr) > 0 &&
        EVP_CIPHER_CTX_set_padding(m_ctx, pad ? 1 : 0) > 0;
    EVP_CIPHER_free(cipher);
    return ok;
}

bool BlockCipher::Update(const std::uint8_t* in, std::size_t len, Bytes& out)
{
    out.resize(len + 32);
    int outLen = 0;
    if (!m_ctx || EVP_CipherUpdate(m_ctx, out.data(), &outLen, in, static_cast<int>(len)) <= 0) return false;
    out.resize(outLen);
    return true;
}

bool BlockCipher::Final(Bytes& out)
{
    out.resize(32);
    int outLen = 0;
    if (!m_ctx || EVP_CipherFinal_ex(m_ctx, out.data(), &outLen) <= 0) return false;
    out.resize(outLen);
    return true;
}

} // namespace tokensim

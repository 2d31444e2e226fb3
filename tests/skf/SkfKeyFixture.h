// The key and cipher exports of KeltoSKF resolved from the loaded library,
// a connected token with the user logged in, and OpenSSL as the other side
// of every signature, ciphertext and key record.
#pragma once

#include "SkfFixture.h"
#include "SkfKeyExports.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace skftest {

// clang-format off
#define SKF_KEY_EXPORTS(X)                                                                                        \
    X(SKF_GenRSAKeyPair) X(SKF_GenECCKeyPair) X(SKF_ExportPublicKey) X(SKF_RSASignData) X(SKF_ECCSignData)       \
    X(SKF_GenExtRSAKey) X(SKF_RSAVerify) X(SKF_ECCVerify) X(SKF_ExtECCVerify) X(SKF_ExtRSAPubKeyOperation)       \
    X(SKF_ExtRSAPriKeyOperation) X(SKF_ExtECCEncrypt) X(SKF_ExtECCDecrypt) X(SKF_ExtECCSign) X(SKF_SetSymmKey)   \
    X(SKF_ECCExportSessionKey) X(SKF_RSAExportSessionKey) X(SKF_ImportSessionKey) X(SKF_EncryptInit)             \
    X(SKF_Encrypt) X(SKF_EncryptUpdate) X(SKF_EncryptFinal) X(SKF_DecryptInit) X(SKF_Decrypt)                    \
    X(SKF_DecryptUpdate) X(SKF_DecryptFinal) X(SKF_CloseHandle) X(SKF_MacInit) X(SKF_Mac) X(SKF_MacUpdate)       \
    X(SKF_MacFinal) X(SKF_GenerateAgreementDataWithECC) X(SKF_GenerateAgreementDataAndKeyWithECC)                \
    X(SKF_GenerateKeyWithECC) X(SKF_ImportRSAKeyPair) X(SKF_ImportECCKeyPair)
// clang-format on

struct SkfKeyLibrary {
#define SKF_MEMBER(name) decltype(&::name) name = nullptr;
    SKF_KEY_EXPORTS(SKF_MEMBER)
#undef SKF_MEMBER

    bool Resolve(HMODULE module)
    {
        bool all = true;
#define SKF_RESOLVE(name) all = ResolveExport(module, #name, name) && all;
        SKF_KEY_EXPORTS(SKF_RESOLVE)
#undef SKF_RESOLVE
        return all;
    }
};

inline SkfKeyLibrary& Keys()
{
    static SkfKeyLibrary library;
    return library;
}

using Bytes = std::vector<BYTE>;

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct BnFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;
using Bn = std::unique_ptr<BIGNUM, BnFree>;

inline PkeyCtx CtxOf(EVP_PKEY* key)
{
    return PkeyCtx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
}

inline Pkey NewKey(const char* type, unsigned bits = 0)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) <= 0) return nullptr;
    if (bits && EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) <= 0) return nullptr;
    EVP_PKEY_keygen(ctx.get(), &key);
    return Pkey(key);
}

inline Bytes BnBytes(const EVP_PKEY* key, const char* name, std::size_t width)
{
    BIGNUM* bn = nullptr;
    Bytes out(width);
    if (!EVP_PKEY_get_bn_param(key, name, &bn) || BN_bn2binpad(bn, out.data(), static_cast<int>(width)) < 0)
        out.clear();
    BN_free(bn);
    return out;
}

// The public point as 32-byte x and y.
inline void Sm2Point(const EVP_PKEY* key, Bytes& x, Bytes& y)
{
    BYTE point[65];
    std::size_t len = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &len);
    x.assign(point + 1, point + 33);
    y.assign(point + 33, point + 65);
}

inline ECCPUBLICKEYBLOB EccBlobOf(const EVP_PKEY* key)
{
    ECCPUBLICKEYBLOB blob = {};
    Bytes x, y;
    Sm2Point(key, x, y);
    blob.BitLen = 256;
    std::memcpy(blob.XCoordinate + 32, x.data(), 32);
    std::memcpy(blob.YCoordinate + 32, y.data(), 32);
    return blob;
}

inline ECCPRIVATEKEYBLOB EccPrivateBlobOf(const EVP_PKEY* key)
{
    ECCPRIVATEKEYBLOB blob = {};
    blob.BitLen = 256;
    Bytes d = BnBytes(key, OSSL_PKEY_PARAM_PRIV_KEY, 32);
    std::memcpy(blob.PrivateKey + 32, d.data(), 32);
    return blob;
}

inline Pkey FromParams(const char* type, OSSL_PARAM_BLD* builder)
{
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(builder);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (params && ctx && EVP_PKEY_fromdata_init(ctx.get()) > 0)
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(builder);
    return Pkey(key);
}

inline Pkey Sm2KeyOf(const ECCPUBLICKEYBLOB& blob)
{
    BYTE point[65] = {0x04};
    std::memcpy(point + 1, blob.XCoordinate + 32, 32);
    std::memcpy(point + 33, blob.YCoordinate + 32, 32);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point);
    return FromParams("SM2", builder);
}

inline Pkey RsaKeyOf(const RSAPUBLICKEYBLOB& blob)
{
    const std::size_t len = blob.BitLen / 8;
    Bn n(BN_bin2bn(blob.Modulus + sizeof blob.Modulus - len, static_cast<int>(len), nullptr));
    Bn e(BN_bin2bn(blob.PublicExponent, sizeof blob.PublicExponent, nullptr));
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n.get());
    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e.get());
    return FromParams("RSA", builder);
}

inline RSAPUBLICKEYBLOB RsaBlobOf(const EVP_PKEY* key)
{
    RSAPUBLICKEYBLOB blob = {};
    blob.AlgID = SGD_RSA;
    blob.BitLen = static_cast<ULONG>(EVP_PKEY_get_bits(key));
    Bytes n = BnBytes(key, OSSL_PKEY_PARAM_RSA_N, blob.BitLen / 8);
    std::memcpy(blob.Modulus + sizeof blob.Modulus - n.size(), n.data(), n.size());
    Bytes e = BnBytes(key, OSSL_PKEY_PARAM_RSA_E, 4);
    std::memcpy(blob.PublicExponent, e.data(), 4);
    return blob;
}

// One-shot public-key operations of OpenSSL; empty on failure.
template <typename Init, typename Op>
Bytes RunPkey(EVP_PKEY* key, Init init, Op op, const Bytes& in, int padding = 0)
{
    PkeyCtx ctx = CtxOf(key);
    if (!ctx || init(ctx.get()) <= 0) return {};
    if (padding && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) <= 0) return {};
    std::size_t len = 0;
    if (op(ctx.get(), nullptr, &len, in.data(), in.size()) <= 0) return {};
    Bytes out(len);
    if (op(ctx.get(), out.data(), &len, in.data(), in.size()) <= 0) return {};
    out.resize(len);
    return out;
}

inline Bytes Encrypt(EVP_PKEY* key, const Bytes& in, int padding = 0)
{
    return RunPkey(key, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, in, padding);
}
inline Bytes Decrypt(EVP_PKEY* key, const Bytes& in, int padding = 0)
{
    return RunPkey(key, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, in, padding);
}
inline Bytes Sign(EVP_PKEY* key, const Bytes& in, int padding = 0)
{
    return RunPkey(key, EVP_PKEY_sign_init, EVP_PKEY_sign, in, padding);
}
inline Bytes VerifyRecover(EVP_PKEY* key, const Bytes& in, int padding)
{
    return RunPkey(key, EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover, in, padding);
}

// SM2 signatures: OpenSSL's DER SEQUENCE { r, s } and the 64-byte r || s.
inline bool Sm2Verify(EVP_PKEY* key, const Bytes& digest, const ECCSIGNATUREBLOB& sig)
{
    Bn r(BN_bin2bn(sig.r + 32, 32, nullptr)), s(BN_bin2bn(sig.s + 32, 32, nullptr));
    ECDSA_SIG* pair = ECDSA_SIG_new();
    ECDSA_SIG_set0(pair, r.release(), s.release());
    unsigned char* der = nullptr;
    int len = i2d_ECDSA_SIG(pair, &der);
    ECDSA_SIG_free(pair);
    PkeyCtx ctx = CtxOf(key);
    bool ok = len > 0 && EVP_PKEY_verify_init(ctx.get()) > 0 &&
        EVP_PKEY_verify(ctx.get(), der, static_cast<std::size_t>(len), digest.data(), digest.size()) == 1;
    OPENSSL_free(der);
    return ok;
}

inline ECCSIGNATUREBLOB Sm2Sign(EVP_PKEY* key, const Bytes& digest)
{
    Bytes der = Sign(key, digest);
    const unsigned char* p = der.data();
    ECDSA_SIG* pair = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    ECCSIGNATUREBLOB sig = {};
    if (!pair) return sig;
    BN_bn2binpad(ECDSA_SIG_get0_r(pair), sig.r + 32, 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(pair), sig.s + 32, 32);
    ECDSA_SIG_free(pair);
    return sig;
}

// An ECCCIPHERBLOB with room for its cipher, kept as bytes.
inline ECCCIPHERBLOB* AsCipher(Bytes& room)
{
    return reinterpret_cast<ECCCIPHERBLOB*>(room.data());
}

// OpenSSL's SM2 ciphertext SEQUENCE { x, y, C3, C2 } and the cipher record.
Bytes Sm2CipherDer(const ECCCIPHERBLOB& blob);
Bytes Sm2CipherBlob(const Bytes& der);

// SM4 in software, the other side of the token's cipher.
Bytes Sm4(const char* mode, const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt, bool pad);

inline Bytes Random(std::size_t len, BYTE seed)
{
    Bytes out(len);
    for (std::size_t i = 0; i < len; ++i) out[i] = static_cast<BYTE>(seed + i * 31 + (i >> 3));
    return out;
}

// All the log text written from now on, hex-dump lines included (they
// carry no thread mark).
class RawLog {
public:
    RawLog() : m_path(HourLogPath()), m_offset(static_cast<std::streamoff>(ReadFrom(m_path, 0).size())) { }
    bool Has(const Bytes& data) const
    {
        std::string text = ReadFrom(m_path, m_offset);
        if (HourLogPath() != m_path) text += ReadFrom(HourLogPath(), 0);
        return text.find(Hex(data)) != std::string::npos;
    }
    static std::string Hex(const Bytes& data)
    {
        static const char digits[] = "0123456789ABCDEF";
        std::string hex;
        for (BYTE b : data) hex += {digits[b >> 4], digits[b & 15]};
        return hex;
    }

private:
    std::string m_path;
    std::streamoff m_offset;
};

class KeyTest : public SkfTest {
protected:
    static void SetUpTestSuite()
    {
        SkfTest::SetUpTestSuite();
        ASSERT_TRUE(Keys().Resolve(Skf().module));
    }
    void SetUp() override
    {
        SkfTest::SetUp();
        m_dev = Connect(Serial(1));
        ASSERT_NE(m_dev, nullptr);
        ULONG tries = 0;
        ASSERT_EQ(Skf().SKF_VerifyPIN(m_dev, USER_TYPE, Text("12345678"), &tries), SAR_OK);
    }
    HCONTAINER Create(const std::string& name)
    {
        HCONTAINER con = nullptr;
        EXPECT_EQ(Skf().SKF_CreateContainer(m_dev, Text(name), &con), SAR_OK);
        return Keep(con);
    }
    HCONTAINER Open(const std::string& name)
    {
        HCONTAINER con = nullptr;
        EXPECT_EQ(Skf().SKF_OpenContainer(m_dev, Text(name), &con), SAR_OK);
        return Keep(con);
    }
    // A key pair provisioned on the token, as the maker's tools leave it.
    void Provision(const std::string& container, std::uint32_t algorithm, std::uint32_t bits, bool signature)
    {
        tokentest::EditStore([&](tokensim::State& s) {
            ASSERT_EQ(tokensim::AddKeyPair(s, Serial(1), {container, algorithm, bits, signature}), "");
        });
    }
    template <typename Blob>
    Blob ExportKey(HCONTAINER con, BOOL sign)
    {
        Blob blob = {};
        ULONG len = sizeof blob;
        EXPECT_EQ(Keys().SKF_ExportPublicKey(con, sign, reinterpret_cast<BYTE*>(&blob), &len), SAR_OK);
        EXPECT_EQ(len, sizeof blob);
        return blob;
    }
    HKEY_HANDLE SessionKey(const Bytes& key, ULONG alg)
    {
        HKEY_HANDLE h = nullptr;
        EXPECT_EQ(Keys().SKF_SetSymmKey(m_dev, const_cast<BYTE*>(key.data()), alg, &h), SAR_OK);
        return Own(h);
    }
    HKEY_HANDLE Own(HKEY_HANDLE h)
    {
        if (h) m_keys.push_back(h);
        return h;
    }
    static BLOCKCIPHERPARAM Param(ULONG padding, const Bytes& iv = {})
    {
        BLOCKCIPHERPARAM p = {};
        std::memcpy(p.IV, iv.data(), iv.size());
        p.IVLen = static_cast<ULONG>(iv.size());
        p.PaddingType = padding;
        return p;
    }
    Bytes EncryptAll(HKEY_HANDLE h, const Bytes& in)
    {
        ULONG len = 0;
        EXPECT_EQ(Keys().SKF_Encrypt(h, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.size()), nullptr, &len),
                  SAR_OK);
        Bytes out(len);
        EXPECT_EQ(Keys().SKF_Encrypt(h, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.size()), out.data(), &len),
                  SAR_OK);
        out.resize(len);
        return out;
    }
    Bytes DecryptAll(HKEY_HANDLE h, const Bytes& in)
    {
        Bytes out(in.size() + 16);
        ULONG len = static_cast<ULONG>(out.size());
        EXPECT_EQ(Keys().SKF_Decrypt(h, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.size()), out.data(), &len),
                  SAR_OK);
        out.resize(len);
        return out;
    }
    // The data through Update calls of the given sizes (the last size takes
    // the rest), then the Final; empty when a call fails.
    Bytes Stream(HKEY_HANDLE h, bool encrypt, const Bytes& in, const std::vector<ULONG>& sizes)
    {
        auto update = encrypt ? Keys().SKF_EncryptUpdate : Keys().SKF_DecryptUpdate;
        auto final = encrypt ? Keys().SKF_EncryptFinal : Keys().SKF_DecryptFinal;
        Bytes out, piece;
        std::size_t at = 0;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const ULONG rest = static_cast<ULONG>(in.size() - at);
            const ULONG n = i + 1 == sizes.size() ? rest : std::min(sizes[i], rest);
            ULONG len = 0;
            BYTE* data = const_cast<BYTE*>(in.data() + at);
            if (update(h, data, n, nullptr, &len) != SAR_OK) return {};
            piece.assign(len + 1, 0);
            if (update(h, data, n, piece.data(), &len) != SAR_OK) return {};
            out.insert(out.end(), piece.begin(), piece.begin() + len);
            at += n;
        }
        ULONG len = 0;
        if (final(h, nullptr, &len) != SAR_OK) return {};
        piece.assign(len + 1, 0);
        if (final(h, piece.data(), &len) != SAR_OK) return {};
        out.insert(out.end(), piece.begin(), piece.begin() + len);
        return out;
    }
    void TearDown() override
    {
        for (HKEY_HANDLE h : m_keys) Keys().SKF_CloseHandle(h);
        SkfTest::TearDown();
    }

    DEVHANDLE m_dev = nullptr;
    std::vector<HKEY_HANDLE> m_keys;
};

} // namespace skftest

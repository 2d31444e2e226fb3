#include "CspSigner.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace testcsp {

namespace {

const char kSm2DefaultId[] = "1234567812345678";

const EVP_MD *DigestFor(ALG_ID algId)
{
    switch (algId) {
    case CALG_MD5:
        return EVP_md5();
    case CALG_SHA1:
        return EVP_sha1();
    case CALG_SHA_256:
        return EVP_sha256();
    case CALG_SHA_384:
        return EVP_sha384();
    case CALG_SHA_512:
        return EVP_sha512();
    case TESTCSP_CALG_SM3:
        return EVP_sm3();
    default:
        return nullptr;
    }
}

struct PkeyFree {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *p) const { EVP_PKEY_CTX_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX *p) const { EVP_MD_CTX_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

Pkey LoadPrivateKey(const std::string &path)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return nullptr;
    Pkey key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    return key;
}

bool SignRsa(EVP_PKEY *key, ALG_ID algId, const std::vector<BYTE> &hashValue, std::vector<BYTE> &signature)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t cbSignature = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), DigestFor(algId)) <= 0 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &cbSignature, hashValue.data(), hashValue.size()) <= 0)
        return false;
    signature.resize(cbSignature);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &cbSignature, hashValue.data(), hashValue.size()) <= 0) return false;
    signature.resize(cbSignature);
    std::reverse(signature.begin(), signature.end());
    return true;
}

bool Sm2DerSignature(EVP_PKEY *key, const std::vector<BYTE> &message, const std::vector<BYTE> &hashValue,
                     bool hashValueReplaced, std::vector<BYTE> &der)
{
    size_t cbDer = 0;
    if (hashValueReplaced) {
        PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
        if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
            EVP_PKEY_sign(ctx.get(), nullptr, &cbDer, hashValue.data(), hashValue.size()) <= 0)
            return false;
        der.resize(cbDer);
        if (EVP_PKEY_sign(ctx.get(), der.data(), &cbDer, hashValue.data(), hashValue.size()) <= 0) return false;
    } else {
        MdCtx md(EVP_MD_CTX_new());
        EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new(key, nullptr);
        if (!md || !pctx) return EVP_PKEY_CTX_free(pctx), false;
        EVP_PKEY_CTX_set1_id(pctx, kSm2DefaultId, sizeof kSm2DefaultId - 1);
        EVP_MD_CTX_set_pkey_ctx(md.get(), pctx); // lent, not given: freed below
        if (EVP_DigestSignInit(md.get(), nullptr, EVP_sm3(), nullptr, key) <= 0 ||
            EVP_DigestSign(md.get(), nullptr, &cbDer, message.data(), message.size()) <= 0)
            return EVP_PKEY_CTX_free(pctx), false;
        der.resize(cbDer);
        bool ok = EVP_DigestSign(md.get(), der.data(), &cbDer, message.data(), message.size()) > 0;
        md.reset();
        EVP_PKEY_CTX_free(pctx);
        if (!ok) return false;
    }
    der.resize(cbDer);
    return true;
}

bool SignSm2(EVP_PKEY *key, const std::vector<BYTE> &message, const std::vector<BYTE> &hashValue,
             bool hashValueReplaced, std::vector<BYTE> &signature)
{
    std::vector<BYTE> der;
    if (!Sm2DerSignature(key, message, hashValue, hashValueReplaced, der)) return false;
    const unsigned char *p = der.data();
    ECDSA_SIG *sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    if (!sig) return false;
    signature.assign(64, 0);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), signature.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), signature.data() + 32, 32);
    ECDSA_SIG_free(sig);
    // The token's provider hands r and s out least significant byte first.
    std::reverse(signature.begin(), signature.begin() + 32);
    std::reverse(signature.begin() + 32, signature.end());
    return true;
}

} // namespace

bool IsSupportedHash(ALG_ID algId)
{
    return DigestFor(algId) != nullptr;
}

std::vector<BYTE> ComputeHash(ALG_ID algId, const std::vector<BYTE> &message)
{
    const EVP_MD *md = DigestFor(algId);
    if (!md) return {};
    std::vector<BYTE> value(EVP_MD_get_size(md));
    unsigned int cbValue = 0;
    if (!EVP_Digest(message.data(), message.size(), value.data(), &cbValue, md, nullptr)) return {};
    value.resize(cbValue);
    return value;
}

DWORD SignWithKey(const std::string &privateKeyPath, ALG_ID algId, const std::vector<BYTE> &message,
                  const std::vector<BYTE> &hashValue, bool hashValueReplaced, std::vector<BYTE> &signature)
{
    Pkey key = LoadPrivateKey(privateKeyPath);
    if (!key) return static_cast<DWORD>(NTE_NO_KEY);
    bool ok = EVP_PKEY_is_a(key.get(), "RSA") ? SignRsa(key.get(), algId, hashValue, signature)
                                              : SignSm2(key.get(), message, hashValue, hashValueReplaced, signature);
    return ok ? 0 : static_cast<DWORD>(NTE_FAIL);
}

} // namespace testcsp

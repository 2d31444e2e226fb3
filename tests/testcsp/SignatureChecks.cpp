#include "SignatureChecks.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>

namespace testcsp {

namespace {

const char kSM2DefaultId[] = "1234567812345678";

} // namespace

std::vector<unsigned char> FromBase64(const std::string &text)
{
    std::vector<unsigned char> der(text.size());
    int cb = EVP_DecodeBlock(der.data(), reinterpret_cast<const unsigned char *>(text.data()),
                             static_cast<int>(text.size()));
    if (cb < 0 || text.size() < 2) return {};
    der.resize(cb - std::count(text.end() - 2, text.end(), '='));
    return der;
}

std::vector<unsigned char> FromBase64(const std::wstring &text)
{
    return FromBase64(std::string(text.begin(), text.end()));
}

bool VerifySM2(const std::vector<unsigned char> &certificate, const std::string &message,
               const std::vector<unsigned char> &signature)
{
    const unsigned char *p = certificate.data();
    X509 *pX509 = d2i_X509(nullptr, &p, static_cast<long>(certificate.size()));
    if (pX509 == nullptr) return false;
    EVP_PKEY *pKey = X509_get0_pubkey(pX509);
    EVP_MD_CTX *pCtx = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pPkeyCtx = EVP_PKEY_CTX_new(pKey, nullptr);
    EVP_PKEY_CTX_set1_id(pPkeyCtx, kSM2DefaultId, strlen(kSM2DefaultId));
    EVP_MD_CTX_set_pkey_ctx(pCtx, pPkeyCtx);
    bool bOK = EVP_DigestVerifyInit(pCtx, nullptr, EVP_sm3(), nullptr, pKey) == 1 &&
        EVP_DigestVerify(pCtx, signature.data(), signature.size(),
                         reinterpret_cast<const unsigned char *>(message.data()), message.size()) == 1;
    EVP_MD_CTX_free(pCtx);
    EVP_PKEY_CTX_free(pPkeyCtx);
    X509_free(pX509);
    return bOK;
}

} // namespace testcsp

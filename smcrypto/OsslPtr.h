// Owning pointers for the crypto library's objects used inside functions.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>

struct OsslDeleter {
    void operator()(BIGNUM *p) const { BN_clear_free(p); }
    void operator()(BN_CTX *p) const { BN_CTX_free(p); }
    void operator()(EC_GROUP *p) const { EC_GROUP_free(p); }
    void operator()(EC_POINT *p) const { EC_POINT_clear_free(p); }
    void operator()(ECDSA_SIG *p) const { ECDSA_SIG_free(p); }
    void operator()(EVP_PKEY_CTX *p) const { EVP_PKEY_CTX_free(p); }
    void operator()(EVP_MD_CTX *p) const { EVP_MD_CTX_free(p); }
};

using BnPtr = std::unique_ptr<BIGNUM, OsslDeleter>;
using BnCtxPtr = std::unique_ptr<BN_CTX, OsslDeleter>;
using EcGroupPtr = std::unique_ptr<EC_GROUP, OsslDeleter>;
using EcPointPtr = std::unique_ptr<EC_POINT, OsslDeleter>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OsslDeleter>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OsslDeleter>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslDeleter>;

// CryptoAPI RSA private-key blobs built from OpenSSL keys.
#pragma once

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace csptest {

using Bytes = std::vector<BYTE>;
using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

inline PKey NewRsaKey(unsigned bits)
{
    return PKey(EVP_RSA_gen(bits), EVP_PKEY_free);
}

// One RSA component little-endian in length bytes, as CryptoAPI keeps it.
inline Bytes Component(EVP_PKEY* key, const char* name, std::size_t length)
{
    BIGNUM* value = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &value), 1) << name;
    Bytes out(length);
    BN_bn2lebinpad(value, out.data(), static_cast<int>(length));
    BN_clear_free(value);
    return out;
}

inline void Append(Bytes* to, const Bytes& part)
{
    to->insert(to->end(), part.begin(), part.end());
}

inline void AppendWord(Bytes* to, std::uint32_t word)
{
    for (int i = 0; i < 4; ++i) to->push_back(static_cast<BYTE>(word >> (8 * i)));
}

inline Bytes Header(BYTE type, ALG_ID algId, BYTE reserved = 0)
{
    Bytes header = {type, 2, reserved, 0};
    AppendWord(&header, algId);
    return header;
}

inline Bytes RsaPrivateBlob(EVP_PKEY* key, ALG_ID algId)
{
    std::size_t n = static_cast<std::size_t>(EVP_PKEY_get_bits(key)) / 8, h = n / 2;
    Bytes blob = Header(PRIVATEKEYBLOB, algId);
    AppendWord(&blob, 0x32415352);
    AppendWord(&blob, static_cast<std::uint32_t>(n * 8));
    AppendWord(&blob, 65537);
    Append(&blob, Component(key, OSSL_PKEY_PARAM_RSA_N, n));
    Append(&blob, Component(key, OSSL_PKEY_PARAM_RSA_FACTOR1, h));
    Append(&blob, Component(key, OSSL_PKEY_PARAM_RSA_FACTOR2, h));
    Append(&blob, Component(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, h));
    Append(&blob, Component(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, h));
    Append(&blob, Component(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, h));
    Append(&blob, Component(key, OSSL_PKEY_PARAM_RSA_D, n));
    return blob;
}

} // namespace csptest

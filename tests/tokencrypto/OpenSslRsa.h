// RSA keys made by OpenSSL 3, with their values as big-endian bytes, and
// OpenSSL's raw operations as the reference.
#pragma once

#include <cstdint>
#include <vector>

#include <openssl/evp.h>

#include "tokencrypto/Rsa.h"

namespace tokencrypto_test {

struct OpenSslRsaKey {
    explicit OpenSslRsaKey(unsigned bits);
    ~OpenSslRsaKey();
    OpenSslRsaKey(const OpenSslRsaKey&) = delete;
    OpenSslRsaKey& operator=(const OpenSslRsaKey&) = delete;

    // The records with every value right-aligned in its field.
    tokencrypto::RsaPublicKey PublicRecord() const;
    tokencrypto::RsaPrivateKey PrivateRecord() const;
    // PKCS#1 RSAPrivateKey, as `openssl genrsa -traditional` writes it.
    std::vector<uint8_t> Der() const;
    std::vector<uint8_t> RawPublic(const std::vector<uint8_t>& input) const;
    std::vector<uint8_t> RawPrivate(const std::vector<uint8_t>& input) const;

    unsigned bits;
    std::vector<uint8_t> n, e, d, p, q, dP, dQ, qInv; // minimal big-endian
    EVP_PKEY* pkey = nullptr;
};

} // namespace tokencrypto_test

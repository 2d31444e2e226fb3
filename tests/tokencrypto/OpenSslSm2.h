// OpenSSL 3's SM2 on the recommended curve, as the reference our SM2 is
// checked against in both directions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <openssl/evp.h>

namespace tokencrypto_test {

struct OpenSslKey {
    OpenSslKey(); // a fresh random key pair
    explicit OpenSslKey(const uint8_t d[32]);
    ~OpenSslKey();
    OpenSslKey(const OpenSslKey&) = delete;
    OpenSslKey& operator=(const OpenSslKey&) = delete;

    uint8_t d[32];
    uint8_t x[32];
    uint8_t y[32];
    EVP_PKEY* pkey = nullptr;
};

// r || s of OpenSSL's signature of message with the given ID.
std::vector<uint8_t> OpenSslSign(const OpenSslKey& key, const std::string& id, const std::vector<uint8_t>& message);
bool OpenSslVerify(const OpenSslKey& key, const std::string& id, const std::vector<uint8_t>& message,
                   const std::vector<uint8_t>& rs);
// r || s checked against a prepared digest e.
bool OpenSslVerifyDigest(const OpenSslKey& key, const uint8_t e[32], const std::vector<uint8_t>& rs);
// x || y of u1 G + u2 Q, Q being the key's point; false for the point at infinity.
bool OpenSslSumOfMultiples(const std::vector<uint8_t>& u1, const std::vector<uint8_t>& u2, const OpenSslKey& q,
                           uint8_t xy[64]);
// Ciphertexts in the C1 || C2 || C3 byte form of our routines.
std::vector<uint8_t> OpenSslEncrypt(const OpenSslKey& key, const std::vector<uint8_t>& message);
bool OpenSslDecrypt(const OpenSslKey& key, const std::vector<uint8_t>& cipher, std::vector<uint8_t>* message);

} // namespace tokencrypto_test

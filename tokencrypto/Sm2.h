// Software SM2 (GM/T 0003-2012) over the recommended 256-bit curve.
#pragma once

#include <cstdint>

namespace tokencrypto {

constexpr uint32_t SM2_OK = 0;
constexpr uint32_t SM2_ERR_VERIFY = 1005;  // signature does not verify
constexpr uint32_t SM2_ERR_DECRYPT = 1006; // C3 does not match
constexpr uint32_t SM2_ERR_RANDOM = 1007;  // no random scalar could be had
constexpr uint32_t SM2_ERR_INVALID = 1111; // bad point, value out of range or bad length

constexpr uint32_t SM2_SIGNATURE_LENGTH = 64;
constexpr uint32_t SM2_CIPHER_OVERHEAD = 97; // 0x04 || x1 || y1 || C3

struct Sm2PublicKey {
    uint32_t bits;
    uint8_t x[32]; // big-endian
    uint8_t y[32];
};

struct Sm2PrivateKey {
    uint32_t bits;
    uint8_t d[32]; // big-endian
};

// Least significant word first; (0, 0) is the point at infinity.
struct Sm2Point {
    uint32_t x[8];
    uint32_t y[8];
};

// Signs the prepared 32-byte digest e; writes r || s and sets *signatureLength to 64.
uint32_t SM2_Sign(const Sm2PrivateKey* key, const uint8_t e[32], uint8_t* signature, uint32_t* signatureLength);
uint32_t SM2_Verify(const Sm2PublicKey* key, const uint8_t e[32], const uint8_t signature[64]);
// Writes 0x04 || x1 || y1 || C2 || C3; outputLengthToUse must be messageLength + 97.
uint32_t SM2_Enc(const Sm2PublicKey* key, const uint8_t* message, uint32_t messageLength, uint8_t* output,
                 uint32_t* outputLength, uint32_t outputLengthToUse);
// cipherLength must be messageLength + 97; the output is cleared on failure.
uint32_t SM2_Dec(const Sm2PrivateKey* key, const uint8_t* cipher, uint32_t cipherLength, uint8_t* output,
                 uint32_t* outputLength, uint32_t messageLength);
uint32_t SM2_GetZ(const Sm2PublicKey* key, const uint8_t* id, uint32_t idLength, uint8_t z[32]);
// Key derivation from x2 || y2.
void SM2_KDF(const uint8_t z[64], uint8_t* output, uint32_t length);

// Field and point routines in the 8-word form; inputs are taken modulo the
// modulus first.
void SM2_ModSubP(uint32_t r[8], const uint32_t a[8], const uint32_t b[8]);
void SM2_ModSubN(uint32_t r[8], const uint32_t a[8], const uint32_t b[8]);
void SM2_ModMulP(uint32_t r[8], const uint32_t a[8], const uint32_t b[8]);
void SM2_PointAdd(Sm2Point* r, const Sm2Point* p1, const Sm2Point* p2);
void SM2_PointMul(Sm2Point* r, const uint32_t k[8], const Sm2Point* p);
// A scalar in [1, n - 1] keyed from the system generator; SM2_ERR_RANDOM
// when none can be had.
uint32_t SM2_RandomK(uint32_t k[8]);

} // namespace tokencrypto

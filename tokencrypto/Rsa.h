// Raw RSA block operations over fixed-size key records, and key-pair
// generation with its prime search.
#pragma once

#include <cstdint>

#include "tokencrypto/RandomPool.h"

namespace tokencrypto {

constexpr uint32_t RSA_MAX_MODULUS_LEN = 256;
constexpr uint32_t RSA_MAX_PRIME_LEN = 128;
constexpr uint32_t RSA_MIN_MODULUS_BITS = 1024;
constexpr uint32_t RSA_MAX_MODULUS_BITS = 2048;

constexpr uint32_t RSA_OK = 0;
constexpr uint32_t RSA_ERR_DATA = 0x401;                         // input not below the modulus; prime search exhausted
constexpr uint32_t RSA_ERR_LENGTH = 0x406;                       // wrong input length (callers' check)
constexpr uint32_t RSA_ERR_MODULUS_LEN = 0x407;                  // modulus size outside 1024..2048 bits
constexpr uint32_t RSA_ERR_NEED_RANDOM = RANDOM_POOL_NOT_SEEDED; // no seeded random
constexpr uint32_t RSA_ERR_NO_MEMORY = 0xFFFFFFFF;

// Values big-endian, right-aligned in their fields.
struct RsaPublicKey {
    uint32_t bits;
    uint8_t modulus[RSA_MAX_MODULUS_LEN];
    uint8_t exponent[RSA_MAX_MODULUS_LEN];
};

struct RsaPrivateKey {
    uint32_t bits;
    uint8_t modulus[RSA_MAX_MODULUS_LEN];
    uint8_t publicExponent[RSA_MAX_MODULUS_LEN];
    uint8_t exponent[RSA_MAX_MODULUS_LEN];
    uint8_t prime[2][RSA_MAX_PRIME_LEN];         // p, q
    uint8_t primeExponent[2][RSA_MAX_PRIME_LEN]; // d mod (p - 1), d mod (q - 1)
    uint8_t coefficient[RSA_MAX_PRIME_LEN];      // q^-1 mod p
};

struct RsaKeyGenParams {
    uint32_t bits;
    uint32_t useFermat4; // non-zero: public exponent 65537, else 3
};

// Neither pads nor unpads; the output has (bits + 7) / 8 bytes.
uint32_t soft_RSA_PublicEncrypt(uint8_t* output, uint32_t* outputLength, const uint8_t* input, uint32_t inputLength,
                                const RsaPublicKey* key);
// CRT only: the private exponent field is not read.
uint32_t soft_RSA_PrivateDecrypt(uint8_t* output, uint32_t* outputLength, const uint8_t* input, uint32_t inputLength,
                                 const RsaPrivateKey* key);

// Public exponent 65537, seeded from the system generator.
uint32_t RSA_GenerateKey(uint32_t bits, RsaPublicKey* publicKey, RsaPrivateKey* privateKey);
uint32_t RSA_GenerateKeyPair(RsaPublicKey* publicKey, RsaPrivateKey* privateKey, const RsaKeyGenParams* params,
                             RandomPool* pool);
// A probable prime a in [b, c] with a - 1 a multiple of the step s; all of digits.
uint32_t RSA_GeneratePrime(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* s, uint32_t digits,
                           RandomPool* pool);

} // namespace tokencrypto

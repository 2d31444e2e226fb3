// SM2 signature, key derivation and public-key encryption (GM/T 0003-2012)
// on the crypto library's big numbers and curve points. Coordinates,
// digests, r and s travel as 32-byte big-endian strings.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstddef>
#include <cstdint>

constexpr size_t SM2_FIELD_BYTES = 32;
// 0x04, x1, y1 before the message and C3 after it.
constexpr size_t SM2_CIPHER_OVERHEAD = 1 + 2 * SM2_FIELD_BYTES + 32;

// Reasons queued on the error queue under the ECDSA library.
constexpr int SM2_R_BN_LIB = 3;
constexpr int SM2_R_EC_LIB = 16;
constexpr int SM2_R_MALLOC_FAILURE = 65;
constexpr int SM2_R_BAD_ARGUMENT = 67;
constexpr int SM2_R_RANDOM_FAILED = 104;

ECDSA_SIG *sm2_do_sign(const BIGNUM *e, const BIGNUM *d, int curveNid);
int sm2_do_verify(const ECDSA_SIG *sig, const BIGNUM *x, const BIGNUM *y, const BIGNUM *e, int curveNid);
int sm2_verify_raw(const uint8_t r[32], const uint8_t s[32], const uint8_t x[32], const uint8_t y[32],
                   const uint8_t digest[32]);

int sm2_compute_z(const uint8_t *id, size_t idLen, const BIGNUM *a, const BIGNUM *b, const BIGNUM *gx, const BIGNUM *gy,
                  const BIGNUM *x, const BIGNUM *y, uint8_t z[32]);
int sm2_compute_z_default(const uint8_t x[32], const uint8_t y[32], uint8_t z[32]);
int sm2_kdf(const uint8_t *in, size_t inLen, size_t outBits, uint8_t *out);

// out takes len + SM2_CIPHER_OVERHEAD bytes.
int sm2_do_encrypt(int curveNid, const uint8_t *msg, size_t len, const BIGNUM *x, const BIGNUM *y, uint8_t *out);
// out takes totalLen - SM2_CIPHER_OVERHEAD bytes; it is cleared on failure.
int sm2_do_decrypt(int curveNid, const uint8_t *in, size_t totalLen, const BIGNUM *d, uint8_t *out);

int sm2_bn2bin32(const BIGNUM *bn, uint8_t out[32]);
BIGNUM *sm2_bin2bn(const uint8_t *bytes, size_t len, BIGNUM *bn);
int sm2_is_zero(const uint8_t *bytes, size_t len);

// SM2 signature, encryption and user-identity value over a given curve,
// with the random scalar supplied by the caller. Internal to the library;
// Sm2.h fixes the curve and the scalar source.
#pragma once

#include <cstdint>
#include <functional>

#include "tokencrypto/Sm2Curve.h"

namespace tokencrypto {
namespace sm2 {

// Writes 32 big-endian bytes of a candidate scalar; false when no random
// can be had. Candidates outside [1, n - 1] are drawn again.
using ScalarSource = std::function<bool(uint8_t k[32])>;

// Draws until the candidate lies in [1, n - 1]; false when the source fails.
bool Scheme_DrawScalar(const Curve& curve, const ScalarSource& source, Fe* k);

uint32_t Scheme_Sign(const Curve& curve, const uint8_t d[32], const uint8_t e[32], const ScalarSource& source,
                     uint8_t signature[64]);
uint32_t Scheme_Verify(const Curve& curve, const uint8_t x[32], const uint8_t y[32], const uint8_t e[32],
                       const uint8_t signature[64]);
// output holds messageLength + 97 bytes; message and output must not overlap.
uint32_t Scheme_Encrypt(const Curve& curve, const uint8_t x[32], const uint8_t y[32], const uint8_t* message,
                        uint32_t messageLength, const ScalarSource& source, uint8_t* output);
uint32_t Scheme_Decrypt(const Curve& curve, const uint8_t d[32], const uint8_t* cipher, uint32_t cipherLength,
                        uint8_t* output, uint32_t messageLength);
void Scheme_GetZ(const Curve& curve, const uint8_t x[32], const uint8_t y[32], const uint8_t* id, uint32_t idLength,
                 uint8_t z[32]);

} // namespace sm2
} // namespace tokencrypto

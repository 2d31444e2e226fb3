// Whether an SM2 public key is a point of the curve.
#pragma once

#include <cstdint>

namespace tokencrypto {

// x and y big-endian, 32 bytes each; false for coordinates at or above p,
// for the point at infinity and for any point off the curve.
bool Sm2PointOnCurve(const std::uint8_t x[32], const std::uint8_t y[32]);

} // namespace tokencrypto

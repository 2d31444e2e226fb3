#include "tokencrypto/Sm2PointCheck.h"

#include "tokencrypto/Sm2.h"

#include <cstring>

namespace tokencrypto {
namespace {

// The recommended curve, y^2 = x^3 - 3x + b over p.
const std::uint8_t kP[32] = {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
                             0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const std::uint8_t kB[32] = {0x28, 0xE9, 0xFA, 0x9E, 0x9D, 0x9F, 0x5E, 0x34, 0x4D, 0x5A, 0x9E,
                             0x4B, 0xCF, 0x65, 0x09, 0xA7, 0xF3, 0x97, 0x89, 0xF5, 0x15, 0xAB,
                             0x8F, 0x92, 0xDD, 0xBC, 0xBD, 0x41, 0x4D, 0x94, 0x0E, 0x93};

// Big-endian bytes into eight words, least significant first.
void ToWords(std::uint32_t words[8], const std::uint8_t bytes[32])
{
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t* b = bytes + 28 - 4 * i;
        words[i] = (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
    }
}

bool IsZero(const std::uint8_t bytes[32])
{
    for (int i = 0; i < 32; ++i)
        if (bytes[i]) return false;
    return true;
}

} // namespace

// A public key is no secret: plain comparisons serve.
bool Sm2PointOnCurve(const std::uint8_t x[32], const std::uint8_t y[32])
{
    if (std::memcmp(x, kP, 32) >= 0 || std::memcmp(y, kP, 32) >= 0) return false;
    if (IsZero(x) && IsZero(y)) return false;
    std::uint32_t wx[8], wy[8], b[8], yy[8], xx[8], xxx[8], right[8], left[8];
    ToWords(wx, x);
    ToWords(wy, y);
    ToWords(b, kB);
    SM2_ModMulP(yy, wy, wy);
    SM2_ModMulP(xx, wx, wx);
    SM2_ModMulP(xxx, xx, wx);
    // x^3 - 3x against y^2 - b.
    SM2_ModSubP(right, xxx, wx);
    SM2_ModSubP(right, right, wx);
    SM2_ModSubP(right, right, wx);
    SM2_ModSubP(left, yy, b);
    return std::memcmp(left, right, sizeof left) == 0;
}

} // namespace tokencrypto

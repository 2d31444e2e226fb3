#include "EccPoint.h"

#include "tokencrypto/Sm2.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr ULONG kCoordLen = 32;
constexpr ULONG kEccBits = 256;

// p and b of the recommended curve, big-endian; a = p - 3.
constexpr std::uint8_t kP[kCoordLen] = {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
                                        0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::uint8_t kB[kCoordLen] = {0x28, 0xE9, 0xFA, 0x9E, 0x9D, 0x9F, 0x5E, 0x34, 0x4D, 0x5A, 0x9E,
                                        0x4B, 0xCF, 0x65, 0x09, 0xA7, 0xF3, 0x97, 0x89, 0xF5, 0x15, 0xAB,
                                        0x8F, 0x92, 0xDD, 0xBC, 0xBD, 0x41, 0x4D, 0x94, 0x0E, 0x93};

// Big-endian bytes to the field routines' words, least significant first.
void ToWords(std::uint32_t words[8], const std::uint8_t* bytes)
{
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t* b = bytes + kCoordLen - 4 * (i + 1);
        words[i] = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
    }
}

}  // namespace

bool IsSm2Point(const ECCPUBLICKEYBLOB& blob)
{
    const std::uint8_t* x = blob.XCoordinate + kCoordLen;
    const std::uint8_t* y = blob.YCoordinate + kCoordLen;
    if (blob.BitLen != kEccBits) return false;
    if (std::memcmp(x, kP, kCoordLen) >= 0 || std::memcmp(y, kP, kCoordLen) >= 0) return false;
    std::uint32_t wx[8], wy[8], b[8], zero[8] = {}, three[8] = {3};
    ToWords(wx, x);
    ToWords(wy, y);
    ToWords(b, kB);
    std::uint32_t rhs[8], threeX[8], minusB[8], lhs[8];
    tokencrypto::SM2_ModMulP(rhs, wx, wx);
    tokencrypto::SM2_ModMulP(rhs, rhs, wx);
    tokencrypto::SM2_ModMulP(threeX, wx, three);
    tokencrypto::SM2_ModSubP(rhs, rhs, threeX);
    tokencrypto::SM2_ModSubP(minusB, zero, b);
    tokencrypto::SM2_ModSubP(rhs, rhs, minusB);
    tokencrypto::SM2_ModMulP(lhs, wy, wy);
    return std::memcmp(lhs, rhs, sizeof lhs) == 0;
}

#include "EccPoint.h"

#include "tokencrypto/Sm2PointCheck.h"

namespace {

constexpr ULONG kCoordLen = 32;
constexpr ULONG kEccBits = 256;

} // namespace

bool IsSm2Point(const ECCPUBLICKEYBLOB& blob)
{
    if (blob.BitLen != kEccBits) return false;
    return tokencrypto::Sm2PointOnCurve(blob.XCoordinate + kCoordLen, blob.YCoordinate + kCoordLen);
}

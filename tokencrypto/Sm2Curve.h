// Prime-field and point arithmetic of SM2-style curves y^2 = x^3 + ax + b,
// parameterised by the curve so that the recommended curve and the
// standard's example curve run through the same code. Internal to the
// library; the fixed interfaces live in Sm2.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tokencrypto/Montgomery.h"

namespace tokencrypto {
namespace sm2 {

using mont::Limb;
constexpr size_t kLimbs = 32 / sizeof(Limb);

// 256-bit value, least significant limb first; in Montgomery form where a
// field element is meant, plain where a scalar is meant.
struct Fe {
    Limb v[kLimbs];
};

struct Field {
    Fe m;
    Limb m0inv;
    Fe one;              // R mod m
    Fe rr;               // R^2 mod m
    bool lowLimbAllOnes; // as the recommended prime's: products take the faster route
};

struct AffinePoint {
    Fe x, y;
};

// z = 0 is the point at infinity.
struct JacobianPoint {
    Fe x, y, z;
};

struct CurveParameters {
    uint8_t p[32], a[32], b[32], n[32], gx[32], gy[32];
};

constexpr unsigned kWindowBits = 4;
constexpr unsigned kWindows = 256 / kWindowBits;
constexpr unsigned kWindowEntries = (1u << kWindowBits) - 1;

// p and n must both exceed 2^255: a 256-bit value is then reduced by one
// conditional subtraction.
struct Curve {
    CurveParameters params;
    Field p;
    Field n;
    Fe a, b; // Montgomery form
    bool aIsMinus3;
    AffinePoint g;
    // baseTable[i][j - 1] = j * 16^i * G, for a fixed-window base multiple.
    AffinePoint baseTable[kWindows][kWindowEntries];
};

void Curve_Init(Curve* curve, const CurveParameters& params);
const Curve& RecommendedCurve();

// Plain values and big-endian bytes.
void Fe_FromBytes(Fe* r, const uint8_t bytes[32]);
void Fe_ToBytes(uint8_t bytes[32], const Fe& a);
bool Fe_IsZero(const Fe& a);
bool Fe_Equal(const Fe& a, const Fe& b);
// a compared with the field's modulus: a < m.
bool Fe_Below(const Fe& a, const Field& f);
void Fe_Reduce(Fe* r, const Fe& a, const Field& f);

void Fe_Add(Fe* r, const Fe& a, const Fe& b, const Field& f);
void Fe_Sub(Fe* r, const Fe& a, const Fe& b, const Field& f);
void Fe_Mul(Fe* r, const Fe& a, const Fe& b, const Field& f);
void Fe_ToMont(Fe* r, const Fe& a, const Field& f);
void Fe_FromMont(Fe* r, const Fe& a, const Field& f);
void Fe_Inv(Fe* r, const Fe& a, const Field& f); // Montgomery form in and out; 0 gives 0

// Points from and to plain affine coordinates; (0, 0) stands for the point
// at infinity.
void Point_FromAffine(JacobianPoint* r, const Fe& x, const Fe& y, const Curve& curve);
// false for the point at infinity, whose coordinates are then zero.
bool Point_ToAffine(Fe* x, Fe* y, const JacobianPoint& a, const Curve& curve);
bool Point_IsOnCurve(const Fe& x, const Fe& y, const Curve& curve);

void Point_Double(JacobianPoint* r, const JacobianPoint& a, const Curve& curve);
void Point_Add(JacobianPoint* r, const JacobianPoint& a, const JacobianPoint& b, const Curve& curve);
void Point_MulBase(JacobianPoint* r, const Fe& k, const Curve& curve);
// Constant time in the scalar, for secret scalars.
void Point_Mul(JacobianPoint* r, const Fe& k, const JacobianPoint& a, const Curve& curve);
// Variable time, for public scalars only (verification).
void Point_MulPublic(JacobianPoint* r, const Fe& k, const JacobianPoint& a, const Curve& curve);
// u1 G + u2 Q, likewise for public scalars and points only.
void Point_MulSumPublic(JacobianPoint* r, const Fe& u1, const Fe& u2, const JacobianPoint& q, const Curve& curve);

constexpr unsigned kNafWidth = 5;
constexpr int kNafOddMultiples = 1 << (kNafWidth - 2); // P, 3P, ..., 15P
// Width-5 signed digits of k, least significant first: every non-zero
// digit is odd and below 16 in size, and is followed by at least four
// zeros. Returns the digit count.
unsigned Fe_SignedDigits(int8_t digits[257], const Fe& k);

} // namespace sm2
} // namespace tokencrypto

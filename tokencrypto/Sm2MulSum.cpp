// u1 G + u2 Q for verification: public scalars and points, so variable
// time. On the recommended curve, where the compiler has a 128-bit
// product, the sum runs in one pass of doublings over a field of 52-bit
// limbs whose sums and differences need no carries.
#include "tokencrypto/Sm2Curve.h"

#include <cstring>

namespace tokencrypto {
namespace sm2 {
namespace {

#if defined(__SIZEOF_INT128__)

// Elements of the recommended prime field p = 2^256 - 2^224 - 2^96 + 2^64 - 1
// in five 52-bit limbs, in Montgomery form with R = 2^260. Limbs may run
// past 52 bits: sums are taken limb by limb, and carried only where a
// difference or a comparison needs it. Every value stays below 2^257 and
// its limbs below 2^57, so a product's columns fit and the product, being
// below (2^257)^2 / 2^260 + p, stays below 2^257 too.
constexpr unsigned kBits = 52;
constexpr int kCount = 5;
constexpr uint64_t kMask = (uint64_t(1) << kBits) - 1;
using Column = __int128; // signed: the reduction subtracts
// A product's columns, and one more for the reduction's top carry.
constexpr int kColumns = 2 * kCount;

struct Lazy {
    uint64_t v[kCount];
};

constexpr uint64_t kP[kCount] = {0xFFFFFFFFFFFFF, 0xFF00000000FFF, 0xFFFFFFFFFFFFF, 0xFFFFFFFFFFFFF, 0xFFFFFFFEFFFF};

Lazy Carry(Lazy a)
{
#pragma GCC unroll 4
    for (int i = 0; i + 1 < kCount; ++i) {
        a.v[i + 1] += a.v[i] >> kBits;
        a.v[i] &= kMask;
    }
    return a;
}

// Brings the bits from 2^256 up back in: 2^256 = 2^224 + 2^96 - 2^64 + 1 mod p.
Lazy Fold(Lazy a)
{
    const uint64_t high = a.v[4] >> 48;
    a.v[4] &= (uint64_t(1) << 48) - 1;
    a.v[0] += high;
    a.v[1] += high * ((uint64_t(1) << 44) - (uint64_t(1) << 12)); // 2^96 - 2^64 from bit 52
    a.v[4] += high << 16;                                         // 2^224 from bit 208
    return a;
}

Lazy Add(const Lazy& a, const Lazy& b)
{
    Lazy r;
#pragma GCC unroll 5
    for (int i = 0; i < kCount; ++i) r.v[i] = a.v[i] + b.v[i];
    return Fold(r);
}

// factor is at most 8.
Lazy Scale(const Lazy& a, uint64_t factor)
{
    Lazy r;
#pragma GCC unroll 5
    for (int i = 0; i < kCount; ++i) r.v[i] = a.v[i] * factor;
    return Fold(r);
}

// a + 2^10 p - b, 2^10 p taken limb by limb: each of its limbs is above
// 2^57, so no limb goes below zero.
Lazy Sub(const Lazy& a, const Lazy& b)
{
    Lazy r;
#pragma GCC unroll 5
    for (int i = 0; i < kCount; ++i) r.v[i] = a.v[i] + (kP[i] << 10) - b.v[i];
    return Fold(Carry(r));
}

// Montgomery reduction of the product's columns: -p^-1 = 1 modulo 2^52,
// so limb i's own low bits are the multiple u, and u p adds
// -u (2^96 - 2^64) from limb i + 1 and u (2^256 - 2^224) from limb i + 4.
// Inlined into both callers, which keeps the columns out of memory.
__attribute__((always_inline)) inline Lazy Reduce(Column t[kColumns])
{
    constexpr uint64_t kNear = (uint64_t(1) << 44) - (uint64_t(1) << 12);
    constexpr uint64_t kFar = (uint64_t(1) << 48) - (uint64_t(1) << 16);
#pragma GCC unroll 5
    for (int i = 0; i < kCount; ++i) {
        const uint64_t u = uint64_t(t[i]) & kMask;
        t[i + 1] += (t[i] >> kBits) - Column(mont::Wide(u) * kNear);
        t[i + 4] += Column(mont::Wide(u) * kFar);
    }
    Lazy r;
    Column carry = t[kCount];
#pragma GCC unroll 4
    for (int i = 0; i + 1 < kCount; ++i) {
        r.v[i] = uint64_t(carry) & kMask;
        carry = (carry >> kBits) + t[kCount + i + 1];
    }
    r.v[kCount - 1] = uint64_t(carry);
    return r;
}

Lazy Mul(const Lazy& a, const Lazy& b)
{
    Column t[kColumns] = {};
#pragma GCC unroll 5
    for (int i = 0; i < kCount; ++i) {
#pragma GCC unroll 5
        for (int j = 0; j < kCount; ++j) t[i + j] += Column(mont::Wide(a.v[i]) * b.v[j]);
    }
    return Reduce(t);
}

Lazy Sqr(const Lazy& a)
{
    Column t[kColumns] = {};
#pragma GCC unroll 5
    for (int i = 0; i < kCount; ++i) {
        t[2 * i] += Column(mont::Wide(a.v[i]) * a.v[i]);
        const uint64_t twice = 2 * a.v[i];
#pragma GCC unroll 5
        for (int j = i + 1; j < kCount; ++j) t[i + j] += Column(mont::Wide(twice) * a.v[j]);
    }
    return Reduce(t);
}

// The plain value of a 256-bit number in limbs.
Lazy Split(const Fe& a)
{
    Lazy r;
    for (int i = 0; i < kCount; ++i) {
        const unsigned bit = i * kBits, limb = bit / 64, shift = bit % 64;
        uint64_t v = a.v[limb] >> shift;
        if (shift > 64 - kBits && limb + 1 < kLimbs) v |= a.v[limb + 1] << (64 - shift);
        r.v[i] = i + 1 < kCount ? v & kMask : v;
    }
    return r;
}

// Below 2^256 + 2^235, so below 2p, with every limb but the top one below 2^52.
Lazy Normalized(const Lazy& a)
{
    return Carry(Fold(Carry(a)));
}

bool IsZero(const Lazy& a)
{
    const Lazy n = Normalized(a);
    return std::memcmp(n.v, Lazy {}.v, sizeof n.v) == 0 || std::memcmp(n.v, kP, sizeof n.v) == 0;
}

// The value below p, as a 256-bit number.
Fe Canonical(const Lazy& a, const Field& p)
{
    const Lazy n = Normalized(a);
    Limb t[kLimbs + 1] = {};
    for (int i = 0; i < kCount; ++i) {
        const unsigned bit = i * kBits, limb = bit / 64, shift = bit % 64;
        t[limb] |= n.v[i] << shift;
        if (shift > 0) t[limb + 1] |= n.v[i] >> (64 - shift);
    }
    Fe r;
    mont::ReduceOnce(r.v, t, p.m.v, kLimbs);
    return r;
}

// From and to the curve code's Montgomery form, whose R is 2^256.
Lazy FromMont(const Fe& a)
{
    return Fold(Carry(Scale(Split(a), 16)));
}

Fe ToMont(const Lazy& a, const Field& p)
{
    return Canonical(Mul(a, Split(p.one)), p);
}

struct LazyPoint {
    Lazy x, y, z;
    bool infinity;
};

struct LazyAffine {
    Lazy x, y;
};

LazyPoint Infinity()
{
    return {{}, {}, {}, true};
}

// y^2 = x^3 - 3x + b. With every product inlined, the doubling's
// independent products overlap: it runs about a tenth faster.
__attribute__((flatten)) LazyPoint Double(const LazyPoint& a)
{
    if (a.infinity) return a;
    const Lazy delta = Sqr(a.z), gamma = Sqr(a.y);
    const Lazy beta4 = Scale(Mul(a.x, gamma), 4);
    const Lazy alpha = Scale(Mul(Sub(a.x, delta), Add(a.x, delta)), 3);
    LazyPoint r;
    r.x = Sub(Sqr(alpha), Scale(beta4, 2));
    r.y = Sub(Mul(alpha, Sub(beta4, r.x)), Scale(Sqr(gamma), 8));
    r.z = Scale(Mul(a.y, a.z), 2);
    r.infinity = false;
    return r;
}

// a + b from both over a common denominator (u = x z'^2, s = y z'^3);
// equal points double and opposite ones cancel.
LazyPoint Sum(const LazyPoint& a, const Lazy& u1, const Lazy& s1, const Lazy& u2, const Lazy& s2, const Lazy& z1z2)
{
    const Lazy h = Sub(u2, u1), rr = Sub(s2, s1);
    if (IsZero(h)) return IsZero(rr) ? Double(a) : Infinity();
    const Lazy hh = Sqr(h), hhh = Mul(h, hh), v = Mul(u1, hh);
    LazyPoint r;
    r.x = Sub(Sub(Sqr(rr), hhh), Scale(v, 2));
    r.y = Sub(Mul(rr, Sub(v, r.x)), Mul(s1, hhh));
    r.z = Mul(z1z2, h);
    r.infinity = false;
    return r;
}

// A point that is added many times, with z^2 and z^3 kept.
struct CachedPoint : LazyPoint {
    Lazy zz, zzz;
};

CachedPoint Cached(const LazyPoint& a)
{
    const Lazy zz = Sqr(a.z);
    return {a, zz, Mul(zz, a.z)};
}

LazyPoint AddCached(const LazyPoint& a, const CachedPoint& b)
{
    if (a.infinity) return b;
    if (b.infinity) return a;
    const Lazy z1z1 = Sqr(a.z);
    return Sum(a, Mul(a.x, b.zz), Mul(a.y, b.zzz), Mul(b.x, z1z1), Mul(Mul(b.y, a.z), z1z1), Mul(a.z, b.z));
}

LazyPoint AddAffine(const LazyPoint& a, const LazyAffine& b, const Lazy& one)
{
    if (a.infinity) return {b.x, b.y, one, false};
    const Lazy z1z1 = Sqr(a.z);
    return Sum(a, a.x, a.y, Mul(b.x, z1z1), Mul(Mul(b.y, a.z), z1z1), a.z);
}

template <class Point>
Point Negated(Point a, bool negate)
{
    if (negate) a.y = Sub(Lazy {}, a.y);
    return a;
}

unsigned Magnitude(int digit)
{
    return unsigned(digit < 0 ? -digit : digit);
}

// Width-5 signed digits of both scalars over one chain of doublings: G's
// odd multiples come from the first row of the fixed-base table, Q's are
// computed here.
void MulSumRecommended(JacobianPoint* r, const Fe& u1, const Fe& u2, const JacobianPoint& q, const Curve& c)
{
    const Field& p = c.p;
    Fe k;
    int8_t gDigits[257], qDigits[257];
    Fe_Reduce(&k, u1, c.n);
    const unsigned gCount = Fe_SignedDigits(gDigits, k);
    Fe_Reduce(&k, u2, c.n);
    const unsigned qCount = Fe_SignedDigits(qDigits, k);

    const Lazy one = FromMont(p.one);
    LazyAffine gOdd[kNafOddMultiples];
    CachedPoint qOdd[kNafOddMultiples];
    for (int j = 0; j < kNafOddMultiples; ++j) {
        gOdd[j] = {FromMont(c.baseTable[0][2 * j].x), FromMont(c.baseTable[0][2 * j].y)};
    }
    qOdd[0] = Cached({FromMont(q.x), FromMont(q.y), FromMont(q.z), Fe_IsZero(q.z)});
    const CachedPoint twice = Cached(Double(qOdd[0]));
    for (int j = 1; j < kNafOddMultiples; ++j) qOdd[j] = Cached(AddCached(qOdd[j - 1], twice));

    LazyPoint acc = Infinity();
    for (unsigned i = gCount > qCount ? gCount : qCount; i-- > 0;) {
        acc = Double(acc);
        const int g = i < gCount ? gDigits[i] : 0;
        if (g != 0) acc = AddAffine(acc, Negated(gOdd[Magnitude(g) / 2], g < 0), one);
        const int d = i < qCount ? qDigits[i] : 0;
        if (d != 0) acc = AddCached(acc, Negated(qOdd[Magnitude(d) / 2], d < 0));
    }
    if (acc.infinity) {
        *r = {};
        return;
    }
    *r = {ToMont(acc.x, p), ToMont(acc.y, p), ToMont(acc.z, p)};
}

#endif

} // namespace

void Point_MulSumPublic(JacobianPoint* r, const Fe& u1, const Fe& u2, const JacobianPoint& q, const Curve& c)
{
#if defined(__SIZEOF_INT128__)
    if (c.aIsMinus3 && Fe_Equal(c.p.m, RecommendedCurve().p.m)) {
        MulSumRecommended(r, u1, u2, q, c);
        return;
    }
#endif
    JacobianPoint u1G, u2Q;
    Point_MulBase(&u1G, u1, c);
    Point_MulPublic(&u2Q, u2, q, c);
    Point_Add(r, u1G, u2Q, c);
}

} // namespace sm2
} // namespace tokencrypto

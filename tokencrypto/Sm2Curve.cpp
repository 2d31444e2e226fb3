#include "tokencrypto/Sm2Curve.h"

#include <cstring>

#include "tokencrypto/ConstantTime.h"
#include "tokencrypto/Montgomery256.h"
#include "tokencrypto/SecureZero.h"

namespace tokencrypto {
namespace sm2 {
namespace {

// GM/T 0003 recommended curve.
constexpr CurveParameters kRecommended = {
    {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC},
    {0x28, 0xE9, 0xFA, 0x9E, 0x9D, 0x9F, 0x5E, 0x34, 0x4D, 0x5A, 0x9E, 0x4B, 0xCF, 0x65, 0x09, 0xA7,
     0xF3, 0x97, 0x89, 0xF5, 0x15, 0xAB, 0x8F, 0x92, 0xDD, 0xBC, 0xBD, 0x41, 0x4D, 0x94, 0x0E, 0x93},
    {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0x72, 0x03, 0xDF, 0x6B, 0x21, 0xC6, 0x05, 0x2B, 0x53, 0xBB, 0xF4, 0x09, 0x39, 0xD5, 0x41, 0x23},
    {0x32, 0xC4, 0xAE, 0x2C, 0x1F, 0x19, 0x81, 0x19, 0x5F, 0x99, 0x04, 0x46, 0x6A, 0x39, 0xC9, 0x94,
     0x8F, 0xE3, 0x0B, 0xBF, 0xF2, 0x66, 0x0B, 0xE1, 0x71, 0x5A, 0x45, 0x89, 0x33, 0x4C, 0x74, 0xC7},
    {0xBC, 0x37, 0x36, 0xA2, 0xF4, 0xF6, 0x77, 0x9C, 0x59, 0xBD, 0xCE, 0xE3, 0x6B, 0x69, 0x21, 0x53,
     0xD0, 0xA9, 0x87, 0x7C, 0xC6, 0x2A, 0x47, 0x40, 0x02, 0xDF, 0x32, 0xE5, 0x21, 0x39, 0xF0, 0xA0},
};

void Field_Init(Field* f, const uint8_t modulus[32])
{
    Fe_FromBytes(&f->m, modulus);
    f->m0inv = mont::NegInverse(f->m.v[0]);
    f->lowLimbAllOnes = mont::LowLimbAllOnes(f->m.v);
    // R and R^2 modulo m by doubling 1, which keeps start-up free of a
    // general division.
    Fe x = {};
    x.v[0] = 1;
    for (unsigned i = 0; i < 512; ++i) {
        if (i == 256) f->one = x;
        mont::Add(x.v, x.v, x.v, f->m.v, kLimbs);
    }
    f->rr = x;
}

void Fe_Square(Fe* r, const Fe& a, const Field& f)
{
    Fe_Mul(r, a, a, f);
}

bool IsInfinity(const JacobianPoint& a)
{
    return Fe_IsZero(a.z);
}

void SetInfinity(JacobianPoint* r)
{
    std::memset(r, 0, sizeof *r);
}

Limb Fe_ZeroMask(const Fe& a)
{
    Limb any = 0;
    for (size_t i = 0; i < kLimbs; ++i) any |= a.v[i];
    return CT_ZeroMask(any);
}

// r = a where mask is all ones, b where it is zero.
void Fe_Select(Fe* r, const Fe& a, const Fe& b, Limb mask)
{
    for (size_t i = 0; i < kLimbs; ++i) r->v[i] = (a.v[i] & mask) | (b.v[i] & ~mask);
}

void Point_Select(JacobianPoint* r, const JacobianPoint& a, const JacobianPoint& b, Limb mask)
{
    Fe_Select(&r->x, a.x, b.x, mask);
    Fe_Select(&r->y, a.y, b.y, mask);
    Fe_Select(&r->z, a.z, b.z, mask);
}

// The general sum from u1 = x1 z2^2, s1 = y1 z2^3, u2, s2 likewise and z1 z2:
// wrong when the points are equal, opposite or at infinity, which the
// callers either rule out or select around.
void AddFromProducts(JacobianPoint* r, const Fe& u1, const Fe& s1, const Fe& u2, const Fe& s2, const Fe& z1z2,
                     const Field& p)
{
    Fe h, rr, hh, hhh, v, t;
    Fe_Sub(&h, u2, u1, p);
    Fe_Sub(&rr, s2, s1, p);
    Fe_Square(&hh, h, p);
    Fe_Mul(&hhh, h, hh, p);
    Fe_Mul(&v, u1, hh, p);
    JacobianPoint out;
    Fe_Square(&out.x, rr, p);
    Fe_Sub(&out.x, out.x, hhh, p);
    Fe_Sub(&out.x, out.x, v, p);
    Fe_Sub(&out.x, out.x, v, p);
    Fe_Sub(&t, v, out.x, p);
    Fe_Mul(&t, t, rr, p);
    Fe_Mul(&out.y, s1, hhh, p);
    Fe_Sub(&out.y, t, out.y, p);
    Fe_Mul(&out.z, z1z2, h, p);
    *r = out;
}

// a + b with b affine (Montgomery form).
void AddAffineUnchecked(JacobianPoint* r, const JacobianPoint& a, const AffinePoint& b, const Field& p)
{
    Fe z1z1, u2, s2;
    Fe_Square(&z1z1, a.z, p);
    Fe_Mul(&u2, b.x, z1z1, p);
    Fe_Mul(&s2, b.y, a.z, p);
    Fe_Mul(&s2, s2, z1z1, p);
    AddFromProducts(r, a.x, a.y, u2, s2, a.z, p);
}

// Both points over a common denominator: u = x z'^2 and s = y z'^3.
void CommonDenominator(Fe* u1, Fe* s1, Fe* u2, Fe* s2, const JacobianPoint& a, const JacobianPoint& b, const Field& p)
{
    Fe z1z1, z2z2;
    Fe_Square(&z1z1, a.z, p);
    Fe_Square(&z2z2, b.z, p);
    Fe_Mul(u1, a.x, z2z2, p);
    Fe_Mul(u2, b.x, z1z1, p);
    Fe_Mul(s1, a.y, b.z, p);
    Fe_Mul(s1, *s1, z2z2, p);
    Fe_Mul(s2, b.y, a.z, p);
    Fe_Mul(s2, *s2, z1z1, p);
}

void AddUnchecked(JacobianPoint* r, const JacobianPoint& a, const JacobianPoint& b, const Field& p)
{
    Fe u1, u2, s1, s2, z1z2;
    CommonDenominator(&u1, &s1, &u2, &s2, a, b, p);
    Fe_Mul(&z1z2, a.z, b.z, p);
    AddFromProducts(r, u1, s1, u2, s2, z1z2, p);
}

// acc becomes acc + entry, entry when acc is at infinity, and stays when
// the digit is zero; all three are computed and chosen by mask.
void AccumulateDigit(JacobianPoint* acc, const JacobianPoint& sum, const JacobianPoint& entry, unsigned digit)
{
    JacobianPoint next;
    Point_Select(&next, entry, sum, Fe_ZeroMask(acc->z));
    Point_Select(acc, *acc, next, CT_ZeroMask(Limb(digit)));
}

unsigned Window(const Fe& k, unsigned index)
{
    const unsigned bit = index * kWindowBits;
    return unsigned(k.v[bit / mont::kLimbBits] >> (bit % mont::kLimbBits)) & kWindowEntries;
}

// Reads every entry so that the memory access does not follow the secret digit.
void SelectBase(AffinePoint* r, const AffinePoint row[kWindowEntries], unsigned digit)
{
    std::memset(r, 0, sizeof *r);
    for (unsigned j = 0; j < kWindowEntries; ++j) {
        const Limb mask = Limb(0) - Limb(j + 1 == digit);
        for (size_t i = 0; i < kLimbs; ++i) {
            r->x.v[i] |= row[j].x.v[i] & mask;
            r->y.v[i] |= row[j].y.v[i] & mask;
        }
    }
}

void SelectMultiple(JacobianPoint* r, const JacobianPoint multiples[kWindowEntries + 1], unsigned digit)
{
    std::memset(r, 0, sizeof *r);
    for (unsigned j = 0; j <= kWindowEntries; ++j) {
        const Limb mask = Limb(0) - Limb(j == digit);
        for (size_t i = 0; i < kLimbs; ++i) {
            r->x.v[i] |= multiples[j].x.v[i] & mask;
            r->y.v[i] |= multiples[j].y.v[i] & mask;
            r->z.v[i] |= multiples[j].z.v[i] & mask;
        }
    }
}

// Affine copies of the row's Jacobian points with one inversion for all.
void RowToAffine(AffinePoint out[kWindowEntries], const JacobianPoint in[kWindowEntries], const Field& p)
{
    Fe prefix[kWindowEntries];
    prefix[0] = in[0].z;
    for (unsigned j = 1; j < kWindowEntries; ++j) Fe_Mul(&prefix[j], prefix[j - 1], in[j].z, p);
    Fe inverse;
    Fe_Inv(&inverse, prefix[kWindowEntries - 1], p);
    for (unsigned j = kWindowEntries; j-- > 0;) {
        Fe zInv, zInv2;
        if (j > 0) {
            Fe_Mul(&zInv, inverse, prefix[j - 1], p);
            Fe_Mul(&inverse, inverse, in[j].z, p);
        } else {
            zInv = inverse;
        }
        Fe_Square(&zInv2, zInv, p);
        Fe_Mul(&out[j].x, in[j].x, zInv2, p);
        Fe_Mul(&zInv2, zInv2, zInv, p);
        Fe_Mul(&out[j].y, in[j].y, zInv2, p);
    }
}

void BuildBaseTable(Curve* c)
{
    JacobianPoint base;
    base.x = c->g.x;
    base.y = c->g.y;
    base.z = c->p.one;
    for (unsigned i = 0; i < kWindows; ++i) {
        JacobianPoint row[kWindowEntries];
        row[0] = base;
        for (unsigned j = 1; j < kWindowEntries; ++j) Point_Add(&row[j], row[j - 1], base, *c);
        RowToAffine(c->baseTable[i], row, c->p);
        for (unsigned d = 0; d < kWindowBits; ++d) Point_Double(&base, base, *c);
    }
}

} // namespace

void Fe_FromBytes(Fe* r, const uint8_t bytes[32])
{
    for (size_t i = 0; i < kLimbs; ++i) {
        Limb v = 0;
        for (size_t k = 0; k < sizeof(Limb); ++k) v = (v << 8) | bytes[32 - (i + 1) * sizeof(Limb) + k];
        r->v[i] = v;
    }
}

void Fe_ToBytes(uint8_t bytes[32], const Fe& a)
{
    for (size_t i = 0; i < kLimbs; ++i) {
        for (size_t k = 0; k < sizeof(Limb); ++k) {
            bytes[32 - i * sizeof(Limb) - 1 - k] = uint8_t(a.v[i] >> (8 * k));
        }
    }
}

bool Fe_IsZero(const Fe& a)
{
    Limb any = 0;
    for (size_t i = 0; i < kLimbs; ++i) any |= a.v[i];
    return any == 0;
}

bool Fe_Equal(const Fe& a, const Fe& b)
{
    return std::memcmp(a.v, b.v, sizeof a.v) == 0;
}

bool Fe_Below(const Fe& a, const Field& f)
{
    Limb borrow = 0;
    for (size_t i = 0; i < kLimbs; ++i) {
        const mont::Wide diff = mont::Wide(a.v[i]) - f.m.v[i] - borrow;
        borrow = Limb(diff >> mont::kLimbBits) & 1;
    }
    return borrow != 0;
}

void Fe_Reduce(Fe* r, const Fe& a, const Field& f)
{
    Limb t[kLimbs + 1];
    std::memcpy(t, a.v, sizeof a.v);
    t[kLimbs] = 0;
    mont::ReduceOnce(r->v, t, f.m.v, kLimbs);
}

void Fe_Add(Fe* r, const Fe& a, const Fe& b, const Field& f)
{
    mont::Add(r->v, a.v, b.v, f.m.v, kLimbs);
}
void Fe_Sub(Fe* r, const Fe& a, const Fe& b, const Field& f)
{
    mont::Sub(r->v, a.v, b.v, f.m.v, kLimbs);
}
void Fe_Mul(Fe* r, const Fe& a, const Fe& b, const Field& f)
{
    if (f.lowLimbAllOnes) {
        mont::Mul256(r->v, a.v, b.v, f.m.v);
    } else {
        mont::Mul(r->v, a.v, b.v, f.m.v, f.m0inv, kLimbs);
    }
}

void Fe_ToMont(Fe* r, const Fe& a, const Field& f)
{
    Fe reduced;
    Fe_Reduce(&reduced, a, f);
    Fe_Mul(r, reduced, f.rr, f);
}

void Fe_FromMont(Fe* r, const Fe& a, const Field& f)
{
    Fe one = {};
    one.v[0] = 1;
    Fe_Mul(r, a, one, f);
}

void Fe_Inv(Fe* r, const Fe& a, const Field& f)
{
    // Fermat: a^(m-2), by a fixed 4-bit window over the public exponent.
    Fe exponent = f.m;
    exponent.v[0] -= 2; // the low limb of either modulus of a curve is far above 2
    Fe powers[16];
    powers[0] = f.one;
    for (unsigned i = 1; i < 16; ++i) Fe_Mul(&powers[i], powers[i - 1], a, f);
    Fe result = f.one;
    for (unsigned w = kWindows; w-- > 0;) {
        for (unsigned s = 0; s < kWindowBits; ++s) Fe_Square(&result, result, f);
        const unsigned digit = Window(exponent, w);
        if (digit != 0) Fe_Mul(&result, result, powers[digit], f);
    }
    *r = result;
}

void Curve_Init(Curve* c, const CurveParameters& params)
{
    c->params = params;
    Field_Init(&c->p, params.p);
    Field_Init(&c->n, params.n);
    Fe plain;
    Fe_FromBytes(&plain, params.a);
    Fe_ToMont(&c->a, plain, c->p);
    Fe minus3 = {};
    Fe three = {};
    three.v[0] = 3;
    Fe_Sub(&minus3, minus3, three, c->p);
    c->aIsMinus3 = Fe_Equal(plain, minus3);
    Fe_FromBytes(&plain, params.b);
    Fe_ToMont(&c->b, plain, c->p);
    Fe_FromBytes(&plain, params.gx);
    Fe_ToMont(&c->g.x, plain, c->p);
    Fe_FromBytes(&plain, params.gy);
    Fe_ToMont(&c->g.y, plain, c->p);
    BuildBaseTable(c);
}

namespace {

// Built when the image is loaded, not on first use: the guard of a
// first-use static goes through the thread library, which leaves a record
// and a TLS slot behind in a DLL that is loaded and unloaded over and over.
struct RecommendedCurveHolder {
    Curve curve;
    RecommendedCurveHolder() { Curve_Init(&curve, kRecommended); }
};
const RecommendedCurveHolder g_recommended;

} // namespace

const Curve& RecommendedCurve()
{
    return g_recommended.curve;
}

void Point_FromAffine(JacobianPoint* r, const Fe& x, const Fe& y, const Curve& c)
{
    // (0, 0) is off the curve, b being non-zero, so it can stand for
    // infinity; (0, sqrt(b)) and (0, -sqrt(b)) are points like any other.
    if (Fe_IsZero(x) && Fe_IsZero(y)) {
        SetInfinity(r);
        return;
    }
    Fe_ToMont(&r->x, x, c.p);
    Fe_ToMont(&r->y, y, c.p);
    r->z = c.p.one;
}

bool Point_ToAffine(Fe* x, Fe* y, const JacobianPoint& a, const Curve& c)
{
    // The inverse of z = 0 is 0, which gives infinity its zero coordinates
    // without a branch on the point.
    Fe zInv, zInv2, t;
    Fe_Inv(&zInv, a.z, c.p);
    Fe_Square(&zInv2, zInv, c.p);
    Fe_Mul(&t, a.x, zInv2, c.p);
    Fe_FromMont(x, t, c.p);
    Fe_Mul(&zInv2, zInv2, zInv, c.p);
    Fe_Mul(&t, a.y, zInv2, c.p);
    Fe_FromMont(y, t, c.p);
    return !IsInfinity(a);
}

bool Point_IsOnCurve(const Fe& x, const Fe& y, const Curve& c)
{
    if (!Fe_Below(x, c.p) || !Fe_Below(y, c.p)) return false;
    Fe mx, my, lhs, rhs, t;
    Fe_ToMont(&mx, x, c.p);
    Fe_ToMont(&my, y, c.p);
    Fe_Square(&lhs, my, c.p);
    Fe_Square(&rhs, mx, c.p);
    Fe_Add(&rhs, rhs, c.a, c.p);
    Fe_Mul(&rhs, rhs, mx, c.p);
    Fe_Add(&rhs, rhs, c.b, c.p);
    Fe_Sub(&t, lhs, rhs, c.p);
    return Fe_IsZero(t);
}

void Point_Double(JacobianPoint* r, const JacobianPoint& a, const Curve& c)
{
    const Field& p = c.p;
    Fe delta, gamma, beta, alpha, t, u;
    Fe_Square(&delta, a.z, p);
    Fe_Square(&gamma, a.y, p);
    Fe_Mul(&beta, a.x, gamma, p);
    if (c.aIsMinus3) {
        // 3(x - z^2)(x + z^2) = 3x^2 - 3z^4
        Fe_Sub(&t, a.x, delta, p);
        Fe_Add(&u, a.x, delta, p);
        Fe_Mul(&alpha, t, u, p);
        Fe_Add(&t, alpha, alpha, p);
        Fe_Add(&alpha, alpha, t, p);
    } else {
        Fe_Square(&t, a.x, p);
        Fe_Add(&alpha, t, t, p);
        Fe_Add(&alpha, alpha, t, p);
        Fe_Square(&u, delta, p);
        Fe_Mul(&u, u, c.a, p);
        Fe_Add(&alpha, alpha, u, p);
    }
    JacobianPoint out;
    // z3 = (y + z)^2 - y^2 - z^2 = 2yz
    Fe_Add(&t, a.y, a.z, p);
    Fe_Square(&t, t, p);
    Fe_Sub(&t, t, gamma, p);
    Fe_Sub(&out.z, t, delta, p);
    // x3 = alpha^2 - 8 beta
    Fe_Add(&beta, beta, beta, p);
    Fe_Add(&beta, beta, beta, p); // 4 beta
    Fe_Square(&out.x, alpha, p);
    Fe_Sub(&out.x, out.x, beta, p);
    Fe_Sub(&out.x, out.x, beta, p);
    // y3 = alpha (4 beta - x3) - 8 gamma^2
    Fe_Sub(&t, beta, out.x, p);
    Fe_Mul(&t, t, alpha, p);
    Fe_Square(&u, gamma, p);
    Fe_Add(&u, u, u, p);
    Fe_Add(&u, u, u, p);
    Fe_Add(&u, u, u, p);
    Fe_Sub(&out.y, t, u, p);
    *r = out;
}

void Point_Add(JacobianPoint* r, const JacobianPoint& a, const JacobianPoint& b, const Curve& c)
{
    if (IsInfinity(a)) {
        *r = b;
        return;
    }
    if (IsInfinity(b)) {
        *r = a;
        return;
    }
    const Field& p = c.p;
    Fe u1, u2, s1, s2, h, rr, z1z2;
    CommonDenominator(&u1, &s1, &u2, &s2, a, b, p);
    Fe_Sub(&h, u2, u1, p);
    Fe_Sub(&rr, s2, s1, p);
    if (Fe_IsZero(h)) {
        if (Fe_IsZero(rr)) {
            Point_Double(r, a, c);
        } else {
            SetInfinity(r);
        }
        return;
    }
    Fe_Mul(&z1z2, a.z, b.z, p);
    AddFromProducts(r, u1, s1, u2, s2, z1z2, p);
}

// Both multiplications below run the same operations for every scalar:
// every window adds, the table is read in full, and infinity and zero
// digits are chosen around by mask. With k below n and a point of order n
// the sums never meet equal or opposite points: the accumulated multiple
// and the table entry differ as numbers below n.
void Point_MulBase(JacobianPoint* r, const Fe& scalar, const Curve& c)
{
    Fe k;
    Fe_Reduce(&k, scalar, c.n);
    JacobianPoint acc;
    SetInfinity(&acc);
    for (unsigned i = 0; i < kWindows; ++i) {
        const unsigned digit = Window(k, i);
        AffinePoint entry;
        SelectBase(&entry, c.baseTable[i], digit);
        JacobianPoint sum, lifted {entry.x, entry.y, c.p.one};
        AddAffineUnchecked(&sum, acc, entry, c.p);
        AccumulateDigit(&acc, sum, lifted, digit);
    }
    *r = acc;
    SecureZero(&k, sizeof k);
}

void Point_Mul(JacobianPoint* r, const Fe& scalar, const JacobianPoint& a, const Curve& c)
{
    Fe k;
    Fe_Reduce(&k, scalar, c.n);
    JacobianPoint multiples[kWindowEntries + 1];
    SetInfinity(&multiples[0]);
    multiples[1] = a;
    for (unsigned j = 2; j <= kWindowEntries; ++j) Point_Add(&multiples[j], multiples[j - 1], a, c);
    JacobianPoint acc;
    SetInfinity(&acc);
    for (unsigned w = kWindows; w-- > 0;) {
        for (unsigned s = 0; s < kWindowBits; ++s) Point_Double(&acc, acc, c);
        const unsigned digit = Window(k, w);
        JacobianPoint entry, sum;
        SelectMultiple(&entry, multiples, digit);
        AddUnchecked(&sum, acc, entry, c.p);
        AccumulateDigit(&acc, sum, entry, digit);
    }
    *r = acc;
    SecureZero(&k, sizeof k);
}

// The window holds the scalar's bits from j on, less the digits taken so
// far: a negative digit carries into the bit above the window.
unsigned Fe_SignedDigits(int8_t digits[257], const Fe& k)
{
    constexpr unsigned kWindowMask = (1u << kNafWidth) - 1;
    int top = 255;
    while (top >= 0 && ((k.v[top / mont::kLimbBits] >> (top % mont::kLimbBits)) & 1) == 0) --top;
    unsigned window = unsigned(k.v[0]) & kWindowMask;
    unsigned count = 0;
    for (int j = 0; window != 0 || j + int(kNafWidth) <= top; ++j) {
        int digit = 0;
        if (window & 1) {
            digit = int(window & kWindowMask);
            if (digit >= (1 << (kNafWidth - 1))) digit -= 1 << kNafWidth;
            window = unsigned(int(window) - digit);
        }
        digits[count++] = int8_t(digit);
        const unsigned next = unsigned(j) + kNafWidth;
        const unsigned bit = next < 256 ? unsigned(k.v[next / mont::kLimbBits] >> (next % mont::kLimbBits)) & 1 : 0;
        window = (window >> 1) + (bit << (kNafWidth - 1));
    }
    return count;
}

void Point_MulPublic(JacobianPoint* r, const Fe& scalar, const JacobianPoint& a, const Curve& c)
{
    Fe k;
    Fe_Reduce(&k, scalar, c.n);
    int8_t digits[257];
    const unsigned count = Fe_SignedDigits(digits, k);
    JacobianPoint odd[kNafOddMultiples], twice;
    odd[0] = a;
    Point_Double(&twice, a, c);
    for (int j = 1; j < kNafOddMultiples; ++j) Point_Add(&odd[j], odd[j - 1], twice, c);
    JacobianPoint acc;
    SetInfinity(&acc);
    for (unsigned i = count; i-- > 0;) {
        Point_Double(&acc, acc, c);
        const int digit = digits[i];
        if (digit == 0) continue;
        JacobianPoint entry = odd[(digit < 0 ? -digit : digit) / 2];
        if (digit < 0) Fe_Sub(&entry.y, Fe {}, entry.y, c.p);
        Point_Add(&acc, acc, entry, c);
    }
    *r = acc;
}

} // namespace sm2
} // namespace tokencrypto

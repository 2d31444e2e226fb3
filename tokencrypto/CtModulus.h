// Montgomery arithmetic whose running time depends on the sizes of its
// operands only: for RSA primes and prime candidates, which are secret
// themselves, and for the blinded values of the private operation.
// Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tokencrypto/Montgomery.h"

namespace tokencrypto {

struct CtModulus {
    uint32_t digits; // the public size; top digits may be zero
    size_t limbs;
    mont::Limb m[mont::kMaxLimbs];
    mont::Limb m0inv;
    mont::Limb rr[mont::kMaxLimbs]; // R^2 mod m
};

// d odd and above 1, of `digits` digits. R^2 comes from doubling, with no
// division by the secret d.
void CtModulus_Init(CtModulus* s, const uint32_t* d, uint32_t digits);
// The same for a public d, by one division.
void CtModulus_InitPublic(CtModulus* s, const uint32_t* d, uint32_t digits);

// a (s.digits) = b mod d, for b of bDigits (at most 2 s.digits) below d R.
void CtModulus_Reduce(const CtModulus& s, uint32_t* a, const uint32_t* b, uint32_t bDigits);
// a = b c mod d, for b and c below d.
void CtModulus_Mul(const CtModulus& s, uint32_t* a, const uint32_t* b, const uint32_t* c);
// a = b - c mod d, for b and c below d.
void CtModulus_Sub(const CtModulus& s, uint32_t* a, const uint32_t* b, const uint32_t* c);
// a = b^c mod d for b below d: a fixed window over all cDigits digits of
// the exponent, each table entry read in full.
void CtModulus_Exp(const CtModulus& s, uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t cDigits);
// The same for a public exponent, whose bits may steer the loop.
void CtModulus_ExpPublic(const CtModulus& s, uint32_t* a, const uint32_t* b, const uint32_t* e, uint32_t eDigits);

// All ones when b^(2^j) = c mod d for some j below count, else zero, for b
// and c below d: `bound` squarings whatever the secret count (at most
// bound) is.
uint32_t CtModulus_SquaresReach(const CtModulus& s, const uint32_t* b, const uint32_t* c, uint32_t count,
                                uint32_t bound);

// a = b^-1 mod d by the binary extended Euclid, for b coprime to d:
// variable time, so only for values that tell nothing about a secret,
// such as a product of fresh random blinding values.
void CtModulus_InverseOfPublic(const CtModulus& s, uint32_t* a, const uint32_t* b);

// Whether a and b are equal, without a branch on their digits.
bool CtDigitsEqual(const uint32_t* a, const uint32_t* b, uint32_t digits);
// Significant digits of a, counted without a branch on its digits.
uint32_t CtSignificantDigits(const uint32_t* a, uint32_t digits);

} // namespace tokencrypto

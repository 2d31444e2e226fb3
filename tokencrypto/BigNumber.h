// Multi-precision arithmetic on arrays of 32-bit digits, least significant
// digit first. Results are written after the inputs are read, so outputs
// may alias inputs unless a routine says otherwise.
#pragma once

#include <cstdint>

namespace tokencrypto {

// A 2048-bit modulus plus one digit.
constexpr uint32_t BIGNUM_MAX_DIGITS = 65;

// Big-endian bytes to digits: read from the last byte backwards; bytes
// beyond the digits' capacity are ignored.
void BigNum_Decode(uint32_t* a, uint32_t digits, const uint8_t* b, uint32_t length);
// Digits to big-endian bytes, filled from the last byte; leading bytes zero.
void BigNum_Encode(uint8_t* a, uint32_t length, const uint32_t* b, uint32_t digits);

void BigNum_AssignZero(uint32_t* a, uint32_t digits);
void BigNum_AssignDigit(uint32_t* a, uint32_t b, uint32_t digits);
void BigNum_Assign(uint32_t* a, const uint32_t* b, uint32_t digits);
bool BigNum_IsZero(const uint32_t* a, uint32_t digits);
// Significant digits and bits.
uint32_t BigNum_Digits(const uint32_t* a, uint32_t digits);
uint32_t BigNum_Bits(const uint32_t* a, uint32_t digits);
int BigNum_Cmp(const uint32_t* a, const uint32_t* b, uint32_t digits);

uint32_t BigNum_Add(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits); // carry
uint32_t BigNum_Sub(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits); // borrow
// a = b + c d and a = b - c d with c one digit; carry or borrow digit.
uint32_t BigNum_AddDigitMul(uint32_t* a, const uint32_t* b, uint32_t c, const uint32_t* d, uint32_t digits);
uint32_t BigNum_SubDigitMul(uint32_t* a, const uint32_t* b, uint32_t c, const uint32_t* d, uint32_t digits);
// (b[1] b[0]) / c for b[1] < c.
uint32_t BigNum_DigitDiv(const uint32_t b[2], uint32_t c);

// a (2 digits) = b c.
void BigNum_Mul(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits);
// Quotient q (cDigits) and remainder r (dDigits) of c by d; d must not be zero.
void BigNum_Div(uint32_t* q, uint32_t* r, const uint32_t* c, uint32_t cDigits, const uint32_t* d, uint32_t dDigits);
// a (dDigits) = b mod d.
void BigNum_Mod(uint32_t* a, const uint32_t* b, uint32_t bDigits, const uint32_t* d, uint32_t dDigits);
// a = b c mod d, all of digits.
void BigNum_ModMul(uint32_t* a, const uint32_t* b, const uint32_t* c, const uint32_t* d, uint32_t digits);
// a = b^c mod d; a and b of dDigits.
void BigNum_ModExp(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t cDigits, const uint32_t* d,
                   uint32_t dDigits);
// a = b^-1 mod c for gcd(b, c) = 1.
void BigNum_ModInv(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits);
void BigNum_Gcd(uint32_t* a, const uint32_t* b, const uint32_t* c, uint32_t digits);

} // namespace tokencrypto

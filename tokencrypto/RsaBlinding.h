// Blinding values for the RSA private operation, kept per public key
// between operations so that the costly inverse is not paid every time.
// Internal to the library.
#pragma once

#include <cstdint>

#include "tokencrypto/BigNumber.h"
#include "tokencrypto/CtModulus.h"

namespace tokencrypto {

// A = r^e and aInv = r^-1 mod n, of n's digits.
struct RsaBlindingPair {
    uint32_t a[BIGNUM_MAX_DIGITS];
    uint32_t aInv[BIGNUM_MAX_DIGITS];
};

// A pair for one use with the key (n, e), both of BIGNUM_MAX_DIGITS
// digits; modN is set up for n. Safe to
// call from several threads. False when the system generator fails.
bool RsaBlinding_Take(RsaBlindingPair* pair, const CtModulus& modN, const uint32_t* n, const uint32_t* e);

} // namespace tokencrypto

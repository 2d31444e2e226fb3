// An RSA key pair from its two primes: the step of key generation after
// the prime search, in constant time. Internal to the library.
#pragma once

#include <cstdint>

#include "tokencrypto/Rsa.h"

namespace tokencrypto {

// p and q of pDigits digits, distinct, each with q - 1 and p - 1 not a
// multiple of e, a prime below 2^17; p q of `bits` bits. The larger prime
// goes first in the record (p and q are exchanged in place when needed).
void RsaKey_FromPrimes(RsaPublicKey* publicKey, RsaPrivateKey* privateKey, uint32_t* p, uint32_t* q, uint32_t pDigits,
                       uint32_t bits, uint32_t e);

} // namespace tokencrypto

// The probable-prime test of the RSA prime search. A candidate that passes
// becomes a secret prime of a key, so everything it undergoes runs in
// constant time; only the verdicts are made public, and a candidate that
// fails may show where. Internal to the library.
#pragma once

#include <cstdint>

#include "tokencrypto/RandomPool.h"

namespace tokencrypto {

// Trial division by the odd primes below 1000, a base-2 Fermat test and
// Miller-Rabin with bases from the pool, for a of digits digits (a below
// 1000 is looked up). RSA_OK with the verdict in *passes, or the pool's
// error.
uint32_t RsaPrime_Test(bool* passes, const uint32_t* a, uint32_t digits, RandomPool* pool);

} // namespace tokencrypto

// The operating system's random generator: the library's one platform tie.
#pragma once

#include <cstdint>

namespace tokencrypto {

// Fills length bytes; false (and the buffer cleared) when the generator
// cannot be had, so that callers never take unseeded bytes for random.
bool SystemRandom_GetBytes(uint8_t* out, uint32_t length);

} // namespace tokencrypto

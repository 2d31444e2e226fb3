// A system generator that always fails, linked in place of the library's:
// every operation that needs random must stop with an error.
#include <cstring>

#include "tokencrypto/SystemRandom.h"

namespace tokencrypto {

bool SystemRandom_GetBytes(uint8_t* out, uint32_t length)
{
    std::memset(out, 0, length);
    return false;
}

} // namespace tokencrypto

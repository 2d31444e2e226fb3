#include "tokencrypto/SystemRandom.h"

#include <cerrno>
#include <cstring>

#include <sys/random.h>

namespace tokencrypto {

bool SystemRandom_GetBytes(uint8_t* out, uint32_t length)
{
    uint32_t done = 0;
    while (done < length) {
        const ssize_t got = getrandom(out + done, length - done, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            std::memset(out, 0, length);
            return false;
        }
        done += uint32_t(got);
    }
    return true;
}

} // namespace tokencrypto

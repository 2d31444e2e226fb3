#include "tokencrypto/SystemRandom.h"

#include <cstring>

#include <windows.h>
#include <wincrypt.h>

namespace tokencrypto {

bool SystemRandom_GetBytes(uint8_t* out, uint32_t length)
{
    HCRYPTPROV provider = 0;
    bool ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) != FALSE;
    if (ok) {
        ok = CryptGenRandom(provider, length, out) != FALSE;
        // A provider that cannot be released is treated as untrustworthy too.
        ok = (CryptReleaseContext(provider, 0) != FALSE) && ok;
    }
    if (!ok) std::memset(out, 0, length);
    return ok;
}

} // namespace tokencrypto

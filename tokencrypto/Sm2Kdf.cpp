#include "tokencrypto/Sm2.h"

#include <cstring>

#include "tokencrypto/SecureZero.h"
#include "tokencrypto/Sm3.h"

namespace tokencrypto {

void SM2_KDF(const uint8_t z[64], uint8_t* output, uint32_t length)
{
    // x2 || y2 fills exactly one block: compress it once and start every
    // counter block from that state.
    Sm3Context prefix;
    SM3_Init(&prefix);
    SM3_Update(&prefix, z, 64);
    Sm3Context context;
    uint8_t block[SM3_DIGEST_LENGTH];
    for (uint32_t counter = 1; length > 0; ++counter) {
        const uint8_t counterBytes[4] = {uint8_t(counter >> 24), uint8_t(counter >> 16), uint8_t(counter >> 8),
                                         uint8_t(counter)};
        context = prefix;
        SM3_Update(&context, counterBytes, 4);
        const uint32_t take = length < SM3_DIGEST_LENGTH ? length : SM3_DIGEST_LENGTH;
        if (take == SM3_DIGEST_LENGTH) {
            SM3_Final(&context, output);
        } else {
            SM3_Final(&context, block);
            std::memcpy(output, block, take);
        }
        output += take;
        length -= take;
    }
    // The states hash x2 || y2, the shared secret.
    SecureZeroAll(prefix, context, block);
}

} // namespace tokencrypto

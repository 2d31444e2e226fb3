// MD5 (RFC 1321); it serves only the random pool.
#pragma once

#include <cstdint>

namespace tokencrypto {

struct Md5Context {
    uint32_t state[4];
    uint32_t count[2]; // message length in bits, low word first
    uint8_t buffer[64];
};

void MD5_Init(Md5Context* context);
void MD5_Update(Md5Context* context, const uint8_t* data, uint32_t length);
void MD5_Final(uint8_t digest[16], Md5Context* context);
void MD5_Transform(Md5Context* context, const uint8_t block[64]);

} // namespace tokencrypto

// SM3 hash (GM/T 0004-2012) over a caller-owned context record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tokencrypto {

constexpr uint32_t SM3_DIGEST_LENGTH = 32;
constexpr uint32_t SM3_BLOCK_LENGTH = 64;

struct Sm3Context {
    uint32_t state[8];
    uint8_t block[64];
    uint32_t used;
    uint32_t bitsHigh;
    uint32_t bitsLow;
};

// Same context as setting the initial value and zero counters by hand.
void SM3_Init(Sm3Context* context);
void SM3_Expand(const uint8_t block[64], uint32_t W[68], uint32_t W1[64]);
void SM3_Compress(Sm3Context* context, const uint8_t block[64]);
// The portable compression of count whole blocks into the chaining value;
// the crypto library's SM3 runs on it too.
void SM3_CompressBlocks(uint32_t state[8], const uint8_t* blocks, size_t count);
void SM3_Update(Sm3Context* context, const uint8_t* data, uint32_t length);
// The context is left as it was after the padding: not reset, not cleared.
void SM3_Final(Sm3Context* context, uint8_t digest[32]);

} // namespace tokencrypto

// SM3 hash (GM/T 0004-2012) over bytes; no dependency on the crypto library.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t SM3_DIGEST_LENGTH = 32;
constexpr size_t SM3_BLOCK_SIZE = 64;

struct SM3_CTX {
    uint32_t state[8];
    uint32_t blocksLow;
    uint32_t blocksHigh;
    uint8_t buffer[SM3_BLOCK_SIZE];
    uint32_t buffered;
};

int sm3_init(SM3_CTX *ctx);
int sm3_update(SM3_CTX *ctx, const void *data, size_t len);
int sm3_final(uint8_t digest[SM3_DIGEST_LENGTH], SM3_CTX *ctx);
void sm3_block(SM3_CTX *ctx, const uint8_t block[SM3_BLOCK_SIZE]);

// One-shot digest of one or more pieces, for the SM2 code.
void Sm3Digest(const void *data, size_t len, uint8_t digest[SM3_DIGEST_LENGTH]);

// SM4 block cipher (GM/T 0002-2012) over bytes and words; no dependency on
// the crypto library.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t SM4_BLOCK_SIZE = 16;
constexpr size_t SM4_KEY_LENGTH = 16;
constexpr int SM4_ROUNDS = 32;

struct SM4_KEY {
    uint32_t key[4];
    uint32_t rk[SM4_ROUNDS];
};

uint32_t rotl32(uint32_t x, unsigned n);
int sm4_set_key(const uint32_t key[4], uint32_t rk[SM4_ROUNDS]);
int sm4_reverse_round_keys(uint32_t rk[SM4_ROUNDS]);
int sm4_crypt_block(const uint32_t in[4], const uint32_t rk[SM4_ROUNDS], uint32_t out[4]);
int sm4_cbc_block(const uint8_t in[SM4_BLOCK_SIZE], const uint32_t rk[SM4_ROUNDS], uint8_t iv[SM4_BLOCK_SIZE],
                  uint8_t out[SM4_BLOCK_SIZE], int enc);
// count CBC steps over whole blocks in order, as many calls of
// sm4_cbc_block would make them.
int sm4_cbc_blocks(const uint8_t *in, size_t count, const uint32_t rk[SM4_ROUNDS], uint8_t iv[SM4_BLOCK_SIZE],
                   uint8_t *out, int enc);

// Loads the 16 key bytes as big-endian words and schedules them, reversed
// for decryption.
int Sm4KeyFromBytes(SM4_KEY *key, const uint8_t bytes[SM4_KEY_LENGTH], int enc);

// Random sources: an RC4 state keyed from the system generator, and the
// MD5-driven pool that the RSA prime search draws from.
#pragma once

#include <cstdint>

namespace tokencrypto {

constexpr uint32_t RANDOM_POOL_SEED_BYTES = 256;
constexpr uint32_t RANDOM_POOL_NOT_SEEDED = 0x408;

// Draws of a value that a sound source misses at most half the time (a
// number in range, a usable scalar) before the source is taken for
// broken: 64 misses in a row have a chance of at most 2^-64.
constexpr unsigned RANDOM_MAX_DRAWS = 64;

// Built by its user with bytesNeeded = RANDOM_POOL_SEED_BYTES, the rest zero.
struct RandomPool {
    uint32_t bytesNeeded;
    uint8_t state[16]; // 128-bit big-endian value
    uint32_t outputAvailable;
    uint8_t output[16];
};

struct Rc4State {
    uint8_t i;
    uint8_t j;
    uint8_t S[256];
};

void RandomPool_Update(RandomPool* pool, const uint8_t block[16]);
// 0, or RANDOM_POOL_NOT_SEEDED (nothing written) while seed bytes are still due.
uint32_t RandomPool_GenerateBytes(uint8_t* out, uint32_t length, RandomPool* pool);

void RC4_KeySchedule(Rc4State* state, const uint8_t* key, uint32_t keyLength);
// Null when the system generator fails or no memory can be had.
Rc4State* RC4_NewFromSystemRandom();
// Clears the key schedule before the memory goes back.
void RC4_Free(Rc4State* state);

inline uint8_t RC4_NextByte(Rc4State* s)
{
    s->i = uint8_t(s->i + 1);
    s->j = uint8_t(s->j + s->S[s->i]);
    const uint8_t t = s->S[s->i];
    s->S[s->i] = s->S[s->j];
    s->S[s->j] = t;
    return s->S[uint8_t(s->S[s->i] + s->S[s->j])];
}

} // namespace tokencrypto

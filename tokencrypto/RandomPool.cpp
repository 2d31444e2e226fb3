#include "tokencrypto/RandomPool.h"

#include <cstring>
#include <new>

#include "tokencrypto/Md5.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/SystemRandom.h"

namespace tokencrypto {
namespace {

void Md5Of(uint8_t digest[16], const uint8_t* data, uint32_t length)
{
    Md5Context context;
    MD5_Init(&context);
    MD5_Update(&context, data, length);
    MD5_Final(digest, &context);
}

// The step moves on to the byte before only when the stepped byte held 0,
// not 0xFF: the pool's counter has always stepped this way, and its output
// sequence depends on it.
void StepState(uint8_t state[16])
{
    for (int i = 15; i >= 0; --i) {
        if (state[i]++ != 0) break;
    }
}

} // namespace

void RandomPool_Update(RandomPool* pool, const uint8_t block[16])
{
    uint8_t digest[16];
    Md5Of(digest, block, 16);
    unsigned carry = 0;
    for (int i = 15; i >= 0; --i) {
        const unsigned sum = unsigned(pool->state[i]) + digest[i] + carry;
        pool->state[i] = uint8_t(sum);
        carry = sum >> 8;
    }
    pool->bytesNeeded = pool->bytesNeeded >= 16 ? pool->bytesNeeded - 16 : 0;
}

uint32_t RandomPool_GenerateBytes(uint8_t* out, uint32_t length, RandomPool* pool)
{
    if (pool->bytesNeeded != 0) return RANDOM_POOL_NOT_SEEDED;
    while (length > pool->outputAvailable) {
        const uint32_t available = pool->outputAvailable;
        std::memcpy(out, pool->output + 16 - available, available);
        out += available;
        length -= available;
        Md5Of(pool->output, pool->state, 16);
        StepState(pool->state);
        pool->outputAvailable = 16;
    }
    std::memcpy(out, pool->output + 16 - pool->outputAvailable, length);
    pool->outputAvailable -= length;
    return 0;
}

void RC4_KeySchedule(Rc4State* state, const uint8_t* key, uint32_t keyLength)
{
    uint8_t index = state->i;
    uint8_t j = state->j;
    for (unsigned k = 0; k < 256; ++k, ++index) {
        j = uint8_t(j + state->S[index] + key[k % keyLength]);
        const uint8_t t = state->S[index];
        state->S[index] = state->S[j];
        state->S[j] = t;
    }
    state->i = uint8_t(index - 1);
    state->j = state->i;
}

Rc4State* RC4_NewFromSystemRandom()
{
    uint8_t key[256];
    if (!SystemRandom_GetBytes(key, sizeof key)) return nullptr;
    Rc4State* state = new (std::nothrow) Rc4State;
    if (state != nullptr) {
        for (unsigned k = 0; k < 256; ++k) state->S[k] = uint8_t(k);
        state->i = state->j = 0;
        RC4_KeySchedule(state, key, 128);
        RC4_KeySchedule(state, key + 128, 128);
    }
    SecureZero(key, sizeof key);
    return state;
}

void RC4_Free(Rc4State* state)
{
    if (state == nullptr) return;
    SecureZero(state, sizeof *state);
    delete state;
}

} // namespace tokencrypto

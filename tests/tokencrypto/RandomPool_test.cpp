#include "tokencrypto/RandomPool.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "tokencrypto/Md5.h"

namespace {

using namespace tokencrypto;

RandomPool NewPool()
{
    RandomPool pool = {};
    pool.bytesNeeded = RANDOM_POOL_SEED_BYTES;
    return pool;
}

void Seed(RandomPool* pool, unsigned blocks)
{
    for (unsigned i = 0; i < blocks; ++i) {
        uint8_t block[16];
        std::memset(block, int(i), sizeof block);
        RandomPool_Update(pool, block);
    }
}

TEST(RandomPool, NeedsSixteenUpdatesAndGivesNothingBefore)
{
    RandomPool pool = NewPool();
    Seed(&pool, 15);
    EXPECT_EQ(16u, pool.bytesNeeded);
    uint8_t out[8] = {};
    EXPECT_EQ(RANDOM_POOL_NOT_SEEDED, RandomPool_GenerateBytes(out, sizeof out, &pool));
    EXPECT_EQ(std::vector<uint8_t>(8, 0), std::vector<uint8_t>(out, out + 8));
    Seed(&pool, 1);
    EXPECT_EQ(0u, pool.bytesNeeded);
    EXPECT_EQ(0u, RandomPool_GenerateBytes(out, sizeof out, &pool));
}

TEST(RandomPool, DrawsInPiecesEqualOneDraw)
{
    RandomPool whole = NewPool(), pieces = NewPool();
    Seed(&whole, 16);
    Seed(&pieces, 16);
    uint8_t a[40], b[40];
    ASSERT_EQ(0u, RandomPool_GenerateBytes(a, 40, &whole));
    for (uint32_t offset : {0u, 16u, 32u, 33u}) {
        const uint32_t next = offset == 0 ? 16 : offset == 16 ? 32 : offset == 32 ? 33 : 40;
        ASSERT_EQ(0u, RandomPool_GenerateBytes(b + offset, next - offset, &pieces));
    }
    EXPECT_EQ(0, std::memcmp(a, b, 40));
}

// The counter steps byte 15 alone when it held 0xFF.
TEST(RandomPool, StateStepLeavesByte14AfterFF)
{
    RandomPool pool = {};
    pool.state[14] = 0x42;
    pool.state[15] = 0xFF;
    uint8_t out[16];
    ASSERT_EQ(0u, RandomPool_GenerateBytes(out, 16, &pool));
    EXPECT_EQ(0x00, pool.state[15]);
    EXPECT_EQ(0x42, pool.state[14]);
    uint8_t stateBefore[16];
    std::memcpy(stateBefore, pool.state, 16);
    Md5Context md5;
    MD5_Init(&md5);
    MD5_Update(&md5, stateBefore, 16);
    uint8_t expected[16];
    MD5_Final(expected, &md5);
    ASSERT_EQ(0u, RandomPool_GenerateBytes(out, 16, &pool));
    EXPECT_EQ(0, std::memcmp(expected, out, 16));
}

TEST(Rc4, KeyScheduleAndStreamMatchKnownRc4)
{
    // RC4 with the key "Key" starts EB 9F 77 81 B7 34 CA 72 A7.
    Rc4State state;
    for (unsigned k = 0; k < 256; ++k) state.S[k] = uint8_t(k);
    state.i = state.j = 0;
    const uint8_t key[] = {'K', 'e', 'y'};
    RC4_KeySchedule(&state, key, 3);
    // The schedule leaves i = j = 255; the stream starts from i = j = 0.
    EXPECT_EQ(255, state.i);
    EXPECT_EQ(255, state.j);
    state.i = state.j = 0;
    const uint8_t expected[] = {0xEB, 0x9F, 0x77, 0x81, 0xB7, 0x34, 0xCA, 0x72, 0xA7};
    for (uint8_t byte : expected) EXPECT_EQ(byte, RC4_NextByte(&state));
}

// Two schedules of 128 key bytes each: S stays a permutation, and i and j
// end at the second schedule's last index, 254.
TEST(Rc4, SystemKeyedStateIsAScheduledPermutation)
{
    Rc4State* state = RC4_NewFromSystemRandom();
    ASSERT_NE(nullptr, state);
    bool seen[256] = {};
    for (uint8_t value : state->S) seen[value] = true;
    EXPECT_EQ(256, std::count(std::begin(seen), std::end(seen), true));
    EXPECT_EQ(254, state->i);
    EXPECT_EQ(254, state->j);
    RC4_Free(state);
}

} // namespace

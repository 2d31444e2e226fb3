// SM3 over one input too long for a test under the sanitizers: run in the
// plain native tree.
#include <cstdint>

#include <sys/mman.h>

#include <gtest/gtest.h>

#include "tokencrypto/Sm3.h"

namespace {

using namespace tokencrypto;

// One update of nearly 4 GiB after a few buffered bytes: the buffered
// count plus the length does not fit 32 bits. The input is mapped zero
// pages, never written.
TEST(Sm3, UpdateNear4GiBKeepsTheRightCounts)
{
    const uint32_t length = UINT32_MAX - 4;
    void* data = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_POPULATE, -1, 0);
    ASSERT_NE(MAP_FAILED, data);
    Sm3Context context;
    SM3_Init(&context);
    const uint8_t head[10] = {};
    SM3_Update(&context, head, sizeof head);
    SM3_Update(&context, static_cast<const uint8_t*>(data), length);
    munmap(data, length);
    const uint64_t total = uint64_t(length) + sizeof head;
    EXPECT_EQ(total % 64, context.used);
    EXPECT_EQ(uint32_t(total * 8 >> 32), context.bitsHigh);
    EXPECT_EQ(uint32_t(total * 8), context.bitsLow);
}

} // namespace

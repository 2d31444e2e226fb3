#include "Sm3.h"

#include <cstring>

#include "tokencrypto/Sm3.h"

namespace {

inline void StoreBe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void AddBlockCount(SM3_CTX *ctx, size_t blocks)
{
    const uint64_t count = ((uint64_t(ctx->blocksHigh) << 32) | ctx->blocksLow) + blocks;
    ctx->blocksLow = uint32_t(count);
    ctx->blocksHigh = uint32_t(count >> 32);
}

} // namespace

int sm3_init(SM3_CTX *ctx)
{
    if (ctx == nullptr) return 0;
    static const uint32_t iv[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                                   0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};
    std::memcpy(ctx->state, iv, sizeof iv);
    ctx->blocksLow = 0;
    ctx->blocksHigh = 0;
    std::memset(ctx->buffer, 0, sizeof ctx->buffer);
    ctx->buffered = 0;
    return 1;
}

void sm3_block(SM3_CTX *ctx, const uint8_t block[SM3_BLOCK_SIZE])
{
    tokencrypto::SM3_CompressBlocks(ctx->state, block, 1);
}

int sm3_update(SM3_CTX *ctx, const void *data, size_t len)
{
    if (ctx == nullptr) return 0;
    if (len == 0) return 1;
    const uint8_t *p = static_cast<const uint8_t *>(data);
    if (ctx->buffered > 0) {
        size_t room = SM3_BLOCK_SIZE - ctx->buffered;
        if (len < room) {
            std::memcpy(ctx->buffer + ctx->buffered, p, len);
            ctx->buffered += uint32_t(len);
            return 1;
        }
        std::memcpy(ctx->buffer + ctx->buffered, p, room);
        sm3_block(ctx, ctx->buffer);
        AddBlockCount(ctx, 1);
        p += room;
        len -= room;
        ctx->buffered = 0;
    }
    const size_t whole = len / SM3_BLOCK_SIZE;
    tokencrypto::SM3_CompressBlocks(ctx->state, p, whole);
    AddBlockCount(ctx, whole);
    p += whole * SM3_BLOCK_SIZE;
    len -= whole * SM3_BLOCK_SIZE;
    if (len > 0) std::memcpy(ctx->buffer, p, len);
    ctx->buffered = uint32_t(len);
    return 1;
}

int sm3_final(uint8_t digest[SM3_DIGEST_LENGTH], SM3_CTX *ctx)
{
    if (ctx == nullptr) return 0;
    uint64_t blocks = (uint64_t(ctx->blocksHigh) << 32) | ctx->blocksLow;
    uint64_t bits = blocks * 512 + uint64_t(ctx->buffered) * 8;

    uint32_t n = ctx->buffered;
    ctx->buffer[n++] = 0x80;
    if (ctx->buffered + 9 > SM3_BLOCK_SIZE) {
        std::memset(ctx->buffer + n, 0, SM3_BLOCK_SIZE - n);
        sm3_block(ctx, ctx->buffer);
        n = 0;
    }
    std::memset(ctx->buffer + n, 0, 56 - n);
    StoreBe32(ctx->buffer + 56, uint32_t(bits >> 32));
    StoreBe32(ctx->buffer + 60, uint32_t(bits));
    sm3_block(ctx, ctx->buffer);
    for (int i = 0; i < 8; ++i) StoreBe32(digest + 4 * i, ctx->state[i]);
    std::memset(ctx->buffer, 0, sizeof ctx->buffer);
    ctx->buffered = 0;
    return 1;
}

void Sm3Digest(const void *data, size_t len, uint8_t digest[SM3_DIGEST_LENGTH])
{
    SM3_CTX ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, data, len);
    sm3_final(digest, &ctx);
}

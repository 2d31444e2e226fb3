#include "Sm3.h"

#include <cstring>

namespace {

inline uint32_t Rotl(uint32_t x, unsigned n)
{
    n &= 31;
    return n == 0 ? x : (x << n) | (x >> (32 - n));
}

inline uint32_t LoadBe32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void StoreBe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

inline uint32_t P0(uint32_t x) { return x ^ Rotl(x, 9) ^ Rotl(x, 17); }
inline uint32_t P1(uint32_t x) { return x ^ Rotl(x, 15) ^ Rotl(x, 23); }

// Tj <<< j for every round, so the rounds do not rotate the constant.
struct RoundConstants {
    uint32_t t[64];
    constexpr RoundConstants() : t()
    {
        for (unsigned j = 0; j < 64; ++j) {
            uint32_t base = j < 16 ? 0x79CC4519u : 0x7A879D8Au;
            unsigned n = j % 32;
            t[j] = n == 0 ? base : (base << n) | (base >> (32 - n));
        }
    }
};
constexpr RoundConstants kT;

// One round; the caller renames the registers for the next one.
template <bool Late>
inline void Round(uint32_t a, uint32_t &b, uint32_t c, uint32_t &d, uint32_t e, uint32_t &f, uint32_t g,
                  uint32_t &h, const uint32_t *w, int j)
{
    uint32_t a12 = Rotl(a, 12);
    uint32_t ss1 = Rotl(a12 + e + kT.t[j], 7);
    uint32_t ss2 = ss1 ^ a12;
    uint32_t ff = Late ? ((a & b) | (a & c) | (b & c)) : (a ^ b ^ c);
    uint32_t gg = Late ? ((e & f) | (~e & g)) : (e ^ f ^ g);
    d = ff + d + ss2 + (w[j] ^ w[j + 4]);
    h = P0(gg + h + ss1 + w[j]);
    b = Rotl(b, 9);
    f = Rotl(f, 19);
}

void AddBlockCount(SM3_CTX *ctx)
{
    if (++ctx->blocksLow == 0)
        ++ctx->blocksHigh;
}

} // namespace

int sm3_init(SM3_CTX *ctx)
{
    if (ctx == nullptr)
        return 0;
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
    uint32_t w[68];
    for (int j = 0; j < 16; ++j)
        w[j] = LoadBe32(block + 4 * j);
    for (int j = 16; j < 68; ++j)
        w[j] = P1(w[j - 16] ^ w[j - 9] ^ Rotl(w[j - 3], 15)) ^ Rotl(w[j - 13], 7) ^ w[j - 6];

    uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3];
    uint32_t e = ctx->state[4], f = ctx->state[5], g = ctx->state[6], h = ctx->state[7];
    // Four rounds per step with the registers renamed instead of shifted.
    for (int j = 0; j < 16; j += 4) {
        Round<false>(a, b, c, d, e, f, g, h, w, j);
        Round<false>(d, a, b, c, h, e, f, g, w, j + 1);
        Round<false>(c, d, a, b, g, h, e, f, w, j + 2);
        Round<false>(b, c, d, a, f, g, h, e, w, j + 3);
    }
    for (int j = 16; j < 64; j += 4) {
        Round<true>(a, b, c, d, e, f, g, h, w, j);
        Round<true>(d, a, b, c, h, e, f, g, w, j + 1);
        Round<true>(c, d, a, b, g, h, e, f, w, j + 2);
        Round<true>(b, c, d, a, f, g, h, e, w, j + 3);
    }
    ctx->state[0] ^= a;
    ctx->state[1] ^= b;
    ctx->state[2] ^= c;
    ctx->state[3] ^= d;
    ctx->state[4] ^= e;
    ctx->state[5] ^= f;
    ctx->state[6] ^= g;
    ctx->state[7] ^= h;
}

int sm3_update(SM3_CTX *ctx, const void *data, size_t len)
{
    if (ctx == nullptr)
        return 0;
    if (len == 0)
        return 1;
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
        AddBlockCount(ctx);
        p += room;
        len -= room;
        ctx->buffered = 0;
    }
    for (; len >= SM3_BLOCK_SIZE; p += SM3_BLOCK_SIZE, len -= SM3_BLOCK_SIZE) {
        sm3_block(ctx, p);
        AddBlockCount(ctx);
    }
    if (len > 0)
        std::memcpy(ctx->buffer, p, len);
    ctx->buffered = uint32_t(len);
    return 1;
}

int sm3_final(uint8_t digest[SM3_DIGEST_LENGTH], SM3_CTX *ctx)
{
    if (ctx == nullptr)
        return 0;
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
    for (int i = 0; i < 8; ++i)
        StoreBe32(digest + 4 * i, ctx->state[i]);
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

#include "Sm3.h"

#include <cstring>
#include <utility>

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

// Tj <<< j, folded into each round at compile time.
constexpr uint32_t RoundConstant(unsigned j)
{
    uint32_t base = j < 16 ? 0x79CC4519u : 0x7A879D8Au;
    unsigned n = j % 32;
    return n == 0 ? base : (base << n) | (base >> (32 - n));
}

// Round J on the registers A..H in v and the last sixteen message words in
// w. With J a constant every index is one, so the compiler keeps the arrays
// in registers. W[J + 4] is expanded into the slot of W[J - 12], which no
// later round reads; the registers are renamed instead of shifted and come
// back to their places every four rounds.
template <unsigned J>
inline void Round(uint32_t *v, uint32_t *w)
{
    if (J >= 12) {
        constexpr unsigned k = J + 4;
        w[k % 16] = P1(w[k % 16] ^ w[(k - 9) % 16] ^ Rotl(w[(k - 3) % 16], 15)) ^ Rotl(w[(k - 13) % 16], 7) ^
                    w[(k - 6) % 16];
    }
    uint32_t a = v[(4 - J % 4) % 4], c = v[(6 - J % 4) % 4];
    uint32_t &b = v[(5 - J % 4) % 4];
    uint32_t &d = v[(7 - J % 4) % 4];
    uint32_t e = v[4 + (4 - J % 4) % 4], g = v[4 + (6 - J % 4) % 4];
    uint32_t &f = v[4 + (5 - J % 4) % 4];
    uint32_t &h = v[4 + (7 - J % 4) % 4];

    uint32_t a12 = Rotl(a, 12);
    uint32_t ss1 = Rotl(a12 + e + RoundConstant(J), 7);
    uint32_t ss2 = ss1 ^ a12;
    // Majority and choice in their shorter equivalent forms.
    uint32_t ff = J >= 16 ? ((a & b) | ((a | b) & c)) : (a ^ b ^ c);
    uint32_t gg = J >= 16 ? (((f ^ g) & e) ^ g) : (e ^ f ^ g);
    d = ff + d + ss2 + (w[J % 16] ^ w[(J + 4) % 16]);
    h = P0(gg + h + ss1 + w[J % 16]);
    b = Rotl(b, 9);
    f = Rotl(f, 19);
}

template <size_t... J>
inline void Rounds(uint32_t *v, uint32_t *w, std::index_sequence<J...>)
{
    (Round<J>(v, w), ...);
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
    uint32_t w[16];
    for (int j = 0; j < 16; ++j)
        w[j] = LoadBe32(block + 4 * j);
    uint32_t v[8];
    std::memcpy(v, ctx->state, sizeof v);
    Rounds(v, w, std::make_index_sequence<64>());
    for (int i = 0; i < 8; ++i)
        ctx->state[i] ^= v[i];
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

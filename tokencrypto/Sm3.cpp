#include "tokencrypto/Sm3.h"

#include <cstddef>
#include <cstring>
#include <utility>

namespace tokencrypto {
namespace {

constexpr uint32_t kInitialValue[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                                       0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

inline uint32_t Rotl(uint32_t x, unsigned n)
{
    n &= 31;
    return n == 0 ? x : (x << n) | (x >> (32 - n));
}

inline uint32_t P0(uint32_t x)
{
    return x ^ Rotl(x, 9) ^ Rotl(x, 17);
}
inline uint32_t P1(uint32_t x)
{
    return x ^ Rotl(x, 15) ^ Rotl(x, 23);
}

inline uint32_t LoadBigEndian(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void StoreBigEndian(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// T_j <<< j, folded into each round at compile time.
constexpr uint32_t RoundConstant(unsigned j)
{
    const uint32_t base = j < 16 ? 0x79CC4519u : 0x7A879D8Au;
    const unsigned n = j % 32;
    return n == 0 ? base : (base << n) | (base >> (32 - n));
}

// Round J of the compression on the registers A..H in v and the message
// words in w. J is known at compile time, so every index below is a
// constant and the compiler can keep both arrays in registers. The message
// words are kept sixteen at a time: W[J + 4] takes the slot of W[J - 12],
// which no later round reads. The registers are renamed instead of shifted:
// after four rounds every one is back in its place.
template <unsigned J>
inline void Round(uint32_t* v, uint32_t* w)
{
    if (J >= 12) {
        constexpr unsigned k = J + 4;
        w[k % 16] =
            P1(w[k % 16] ^ w[(k - 9) % 16] ^ Rotl(w[(k - 3) % 16], 15)) ^ Rotl(w[(k - 13) % 16], 7) ^ w[(k - 6) % 16];
    }
    const uint32_t a = v[(4 - J % 4) % 4], c = v[(6 - J % 4) % 4];
    uint32_t& b = v[(5 - J % 4) % 4];
    uint32_t& d = v[(7 - J % 4) % 4];
    const uint32_t e = v[4 + (4 - J % 4) % 4], g = v[4 + (6 - J % 4) % 4];
    uint32_t& f = v[4 + (5 - J % 4) % 4];
    uint32_t& h = v[4 + (7 - J % 4) % 4];

    const uint32_t a12 = Rotl(a, 12);
    const uint32_t ss1 = Rotl(a12 + e + RoundConstant(J), 7);
    const uint32_t ss2 = ss1 ^ a12;
    // Majority and choice in their shorter equivalent forms.
    const uint32_t ff = J >= 16 ? (a & b) | ((a | b) & c) : a ^ b ^ c;
    const uint32_t gg = J >= 16 ? ((f ^ g) & e) ^ g : e ^ f ^ g;
    d = ff + d + ss2 + (w[J % 16] ^ w[(J + 4) % 16]);
    h = P0(gg + h + ss1 + w[J % 16]);
    b = Rotl(b, 9);
    f = Rotl(f, 19);
}

// Inlined into the caller, whose two local arrays the compiler can then
// keep in registers; a call would pass them through memory.
template <size_t... J>
__attribute__((always_inline)) inline void Rounds(uint32_t* v, uint32_t* w, std::index_sequence<J...>)
{
    (Round<J>(v, w), ...);
}

void ExpandWords(const uint8_t block[64], uint32_t W[68])
{
    for (unsigned j = 0; j < 16; ++j) W[j] = LoadBigEndian(block + 4 * j);
    for (unsigned j = 16; j < 68; ++j) {
        W[j] = P1(W[j - 16] ^ W[j - 9] ^ Rotl(W[j - 3], 15)) ^ Rotl(W[j - 13], 7) ^ W[j - 6];
    }
}

// Bit count of the message so far, kept in 64 bits across the two words.
void AddBits(Sm3Context* context, uint32_t length)
{
    uint64_t bits = (uint64_t(context->bitsHigh) << 32) | context->bitsLow;
    bits += uint64_t(length) * 8;
    context->bitsHigh = uint32_t(bits >> 32);
    context->bitsLow = uint32_t(bits);
}

} // namespace

void SM3_Init(Sm3Context* context)
{
    std::memcpy(context->state, kInitialValue, sizeof kInitialValue);
    std::memset(context->block, 0, sizeof context->block);
    context->used = 0;
    context->bitsHigh = 0;
    context->bitsLow = 0;
}

void SM3_Expand(const uint8_t block[64], uint32_t W[68], uint32_t W1[64])
{
    ExpandWords(block, W);
    for (unsigned j = 0; j < 64; ++j) W1[j] = W[j] ^ W[j + 4];
}

void SM3_CompressBlocks(uint32_t state[8], const uint8_t* blocks, size_t count)
{
    for (; count > 0; --count, blocks += SM3_BLOCK_LENGTH) {
        uint32_t w[16];
        for (unsigned j = 0; j < 16; ++j) w[j] = LoadBigEndian(blocks + 4 * j);
        uint32_t v[8];
        std::memcpy(v, state, sizeof v);
        Rounds(v, w, std::make_index_sequence<64>());
        for (unsigned i = 0; i < 8; ++i) state[i] ^= v[i];
    }
}

void SM3_Compress(Sm3Context* context, const uint8_t block[64])
{
    SM3_CompressBlocks(context->state, block, 1);
}

void SM3_Update(Sm3Context* context, const uint8_t* data, uint32_t length)
{
    if (length == 0) return;
    AddBits(context, length);
    // Compared without the sum, which a length near 4 GiB would wrap.
    if (length < SM3_BLOCK_LENGTH - context->used) {
        std::memcpy(context->block + context->used, data, length);
        context->used += length;
        return;
    }
    const uint32_t fill = SM3_BLOCK_LENGTH - context->used;
    std::memcpy(context->block + context->used, data, fill);
    SM3_Compress(context, context->block);
    data += fill;
    length -= fill;
    const uint32_t whole = length / SM3_BLOCK_LENGTH;
    SM3_CompressBlocks(context->state, data, whole);
    data += size_t(whole) * SM3_BLOCK_LENGTH;
    length -= whole * SM3_BLOCK_LENGTH;
    std::memcpy(context->block, data, length);
    context->used = length;
}

void SM3_Final(Sm3Context* context, uint8_t digest[32])
{
    uint8_t buffer[2 * SM3_BLOCK_LENGTH] = {};
    const uint32_t used = context->used;
    std::memcpy(buffer, context->block, used);
    buffer[used] = 0x80;
    const uint32_t lengthOffset = used < 56 ? 56 : 120;
    StoreBigEndian(buffer + lengthOffset, context->bitsHigh);
    StoreBigEndian(buffer + lengthOffset + 4, context->bitsLow);
    SM3_Compress(context, buffer);
    if (lengthOffset + 8 > SM3_BLOCK_LENGTH) SM3_Compress(context, buffer + SM3_BLOCK_LENGTH);
    for (unsigned i = 0; i < 8; ++i) StoreBigEndian(digest + 4 * i, context->state[i]);
}

} // namespace tokencrypto

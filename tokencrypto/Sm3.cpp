#include "tokencrypto/Sm3.h"

#include <cstring>

namespace tokencrypto {
namespace {

constexpr uint32_t kInitialValue[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                                       0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

inline uint32_t Rotl(uint32_t x, unsigned n) {
    n &= 31;
    return n == 0 ? x : (x << n) | (x >> (32 - n));
}

inline uint32_t P0(uint32_t x) { return x ^ Rotl(x, 9) ^ Rotl(x, 17); }
inline uint32_t P1(uint32_t x) { return x ^ Rotl(x, 15) ^ Rotl(x, 23); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void StoreBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

struct RoundConstants {
    uint32_t t[64];
    constexpr RoundConstants() : t() {
        for (unsigned j = 0; j < 64; ++j) {
            const uint32_t base = j < 16 ? 0x79CC4519u : 0x7A879D8Au;
            const unsigned n = j % 32;
            t[j] = n == 0 ? base : (base << n) | (base >> (32 - n));
        }
    }
};
constexpr RoundConstants kT;

// One round with the registers renamed instead of shifted: after four
// rounds every register is back in its place. The two halves differ only in
// FF and GG, fixed at compile time.
template <bool kLate>
inline void Round(uint32_t a, uint32_t& b, uint32_t c, uint32_t& d, uint32_t e, uint32_t& f, uint32_t g,
                  uint32_t& h, uint32_t t, uint32_t w, uint32_t w1) {
    const uint32_t a12 = Rotl(a, 12);
    const uint32_t ss1 = Rotl(a12 + e + t, 7);
    const uint32_t ss2 = ss1 ^ a12;
    // Majority and choice in their shorter equivalent forms.
    const uint32_t ff = kLate ? (a & b) | ((a | b) & c) : a ^ b ^ c;
    const uint32_t gg = kLate ? ((f ^ g) & e) ^ g : e ^ f ^ g;
    d = ff + d + ss2 + w1;
    h = P0(gg + h + ss1 + w);
    b = Rotl(b, 9);
    f = Rotl(f, 19);
}

template <bool kLate>
inline void FourRounds(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e, uint32_t& f, uint32_t& g,
                       uint32_t& h, unsigned j, const uint32_t* W) {
    Round<kLate>(a, b, c, d, e, f, g, h, kT.t[j], W[j], W[j] ^ W[j + 4]);
    Round<kLate>(d, a, b, c, h, e, f, g, kT.t[j + 1], W[j + 1], W[j + 1] ^ W[j + 1 + 4]);
    Round<kLate>(c, d, a, b, g, h, e, f, kT.t[j + 2], W[j + 2], W[j + 2] ^ W[j + 2 + 4]);
    Round<kLate>(b, c, d, a, f, g, h, e, kT.t[j + 3], W[j + 3], W[j + 3] ^ W[j + 3 + 4]);
}

void ExpandWords(const uint8_t block[64], uint32_t W[68]) {
    for (unsigned j = 0; j < 16; ++j) W[j] = LoadBigEndian(block + 4 * j);
    for (unsigned j = 16; j < 68; ++j) {
        W[j] = P1(W[j - 16] ^ W[j - 9] ^ Rotl(W[j - 3], 15)) ^ Rotl(W[j - 13], 7) ^ W[j - 6];
    }
}

// Bit count of the message so far, kept in 64 bits across the two words.
void AddBits(Sm3Context* context, uint32_t length) {
    uint64_t bits = (uint64_t(context->bitsHigh) << 32) | context->bitsLow;
    bits += uint64_t(length) * 8;
    context->bitsHigh = uint32_t(bits >> 32);
    context->bitsLow = uint32_t(bits);
}

}  // namespace

void SM3_Init(Sm3Context* context) {
    std::memcpy(context->state, kInitialValue, sizeof kInitialValue);
    std::memset(context->block, 0, sizeof context->block);
    context->used = 0;
    context->bitsHigh = 0;
    context->bitsLow = 0;
}

void SM3_Expand(const uint8_t block[64], uint32_t W[68], uint32_t W1[64]) {
    ExpandWords(block, W);
    for (unsigned j = 0; j < 64; ++j) W1[j] = W[j] ^ W[j + 4];
}

void SM3_Compress(Sm3Context* context, const uint8_t block[64]) {
    // W1 is formed inside the rounds: storing it costs more than the XOR.
    uint32_t W[68];
    ExpandWords(block, W);
    uint32_t* state = context->state;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (unsigned j = 0; j < 16; j += 4) FourRounds<false>(a, b, c, d, e, f, g, h, j, W);
    for (unsigned j = 16; j < 64; j += 4) FourRounds<true>(a, b, c, d, e, f, g, h, j, W);
    state[0] ^= a; state[1] ^= b; state[2] ^= c; state[3] ^= d;
    state[4] ^= e; state[5] ^= f; state[6] ^= g; state[7] ^= h;
}

void SM3_Update(Sm3Context* context, const uint8_t* data, uint32_t length) {
    if (length == 0) return;
    AddBits(context, length);
    if (context->used + length < SM3_BLOCK_LENGTH) {
        std::memcpy(context->block + context->used, data, length);
        context->used += length;
        return;
    }
    const uint32_t fill = SM3_BLOCK_LENGTH - context->used;
    std::memcpy(context->block + context->used, data, fill);
    SM3_Compress(context, context->block);
    data += fill;
    length -= fill;
    for (; length >= SM3_BLOCK_LENGTH; data += SM3_BLOCK_LENGTH, length -= SM3_BLOCK_LENGTH) {
        SM3_Compress(context, data);
    }
    std::memcpy(context->block, data, length);
    context->used = length;
}

void SM3_Final(Sm3Context* context, uint8_t digest[32]) {
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

}  // namespace tokencrypto

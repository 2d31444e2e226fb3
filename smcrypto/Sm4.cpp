#include "Sm4.h"

namespace {

constexpr uint8_t kSbox[256] = {
    0xD6, 0x90, 0xE9, 0xFE, 0xCC, 0xE1, 0x3D, 0xB7, 0x16, 0xB6, 0x14, 0xC2, 0x28, 0xFB, 0x2C, 0x05, 0x2B, 0x67, 0x9A,
    0x76, 0x2A, 0xBE, 0x04, 0xC3, 0xAA, 0x44, 0x13, 0x26, 0x49, 0x86, 0x06, 0x99, 0x9C, 0x42, 0x50, 0xF4, 0x91, 0xEF,
    0x98, 0x7A, 0x33, 0x54, 0x0B, 0x43, 0xED, 0xCF, 0xAC, 0x62, 0xE4, 0xB3, 0x1C, 0xA9, 0xC9, 0x08, 0xE8, 0x95, 0x80,
    0xDF, 0x94, 0xFA, 0x75, 0x8F, 0x3F, 0xA6, 0x47, 0x07, 0xA7, 0xFC, 0xF3, 0x73, 0x17, 0xBA, 0x83, 0x59, 0x3C, 0x19,
    0xE6, 0x85, 0x4F, 0xA8, 0x68, 0x6B, 0x81, 0xB2, 0x71, 0x64, 0xDA, 0x8B, 0xF8, 0xEB, 0x0F, 0x4B, 0x70, 0x56, 0x9D,
    0x35, 0x1E, 0x24, 0x0E, 0x5E, 0x63, 0x58, 0xD1, 0xA2, 0x25, 0x22, 0x7C, 0x3B, 0x01, 0x21, 0x78, 0x87, 0xD4, 0x00,
    0x46, 0x57, 0x9F, 0xD3, 0x27, 0x52, 0x4C, 0x36, 0x02, 0xE7, 0xA0, 0xC4, 0xC8, 0x9E, 0xEA, 0xBF, 0x8A, 0xD2, 0x40,
    0xC7, 0x38, 0xB5, 0xA3, 0xF7, 0xF2, 0xCE, 0xF9, 0x61, 0x15, 0xA1, 0xE0, 0xAE, 0x5D, 0xA4, 0x9B, 0x34, 0x1A, 0x55,
    0xAD, 0x93, 0x32, 0x30, 0xF5, 0x8C, 0xB1, 0xE3, 0x1D, 0xF6, 0xE2, 0x2E, 0x82, 0x66, 0xCA, 0x60, 0xC0, 0x29, 0x23,
    0xAB, 0x0D, 0x53, 0x4E, 0x6F, 0xD5, 0xDB, 0x37, 0x45, 0xDE, 0xFD, 0x8E, 0x2F, 0x03, 0xFF, 0x6A, 0x72, 0x6D, 0x6C,
    0x5B, 0x51, 0x8D, 0x1B, 0xAF, 0x92, 0xBB, 0xDD, 0xBC, 0x7F, 0x11, 0xD9, 0x5C, 0x41, 0x1F, 0x10, 0x5A, 0xD8, 0x0A,
    0xC1, 0x31, 0x88, 0xA5, 0xCD, 0x7B, 0xBD, 0x2D, 0x74, 0xD0, 0x12, 0xB8, 0xE5, 0xB4, 0xB0, 0x89, 0x69, 0x97, 0x4A,
    0x0C, 0x96, 0x77, 0x7E, 0x65, 0xB9, 0xF1, 0x09, 0xC5, 0x6E, 0xC6, 0x84, 0x18, 0xF0, 0x7D, 0xEC, 0x3A, 0xDC, 0x4D,
    0x20, 0x79, 0xEE, 0x5F, 0x3E, 0xD7, 0xCB, 0x39, 0x48,
};

constexpr uint32_t kFk[4] = {0xA3B1BAC6, 0x56AA3350, 0x677D9197, 0xB27022DC};

constexpr uint32_t Rot(uint32_t x, unsigned n)
{
    return n % 32 == 0 ? x : (x << (n % 32)) | (x >> (32 - n % 32));
}

constexpr uint32_t LinearRound(uint32_t b)
{
    return b ^ Rot(b, 2) ^ Rot(b, 10) ^ Rot(b, 18) ^ Rot(b, 24);
}

constexpr uint32_t LinearKey(uint32_t b)
{
    return b ^ Rot(b, 13) ^ Rot(b, 23);
}

// The round's S-box and linear transform folded into one table per byte
// position: L is linear, so L(S(a)<<24 ^ ...) is the XOR of four lookups.
struct RoundTables {
    uint32_t t[4][256];
    constexpr RoundTables() : t()
    {
        for (unsigned i = 0; i < 256; ++i) {
            uint32_t l = LinearRound(uint32_t(kSbox[i]) << 24);
            for (unsigned k = 0; k < 4; ++k) t[k][i] = Rot(l, 32 - 8 * k);
        }
    }
};
constexpr RoundTables kTables;

// T(x) as two halves whose XOR it is: each joins the sums it feeds on its
// own, so that no sum waits for the other half.
struct Halves {
    uint32_t lo, hi;
};

inline Halves RoundT(uint32_t x)
{
    return {kTables.t[0][x >> 24] ^ kTables.t[1][(x >> 16) & 0xFF],
            kTables.t[2][(x >> 8) & 0xFF] ^ kTables.t[3][x & 0xFF]};
}

uint32_t SubBytes(uint32_t x)
{
    return (uint32_t(kSbox[x >> 24]) << 24) | (uint32_t(kSbox[(x >> 16) & 0xFF]) << 16) |
        (uint32_t(kSbox[(x >> 8) & 0xFF]) << 8) | kSbox[x & 0xFF];
}

uint32_t CkWord(int i)
{
    uint32_t w = 0;
    for (int j = 0; j < 4; ++j) w = (w << 8) | uint32_t(((4 * i + j) * 7) & 0xFF);
    return w;
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

// The 32 rounds; inlined into the CBC loop, which keeps the chaining
// value in registers from block to block. Each round's input to T is
// taken as the older words XOR the previous round's T, not from the word
// that round wrote, so that two XORs lie between lookups of two rounds.
inline void CryptWords(const uint32_t in[4], const uint32_t rk[SM4_ROUNDS], uint32_t out[4])
{
    uint32_t x0 = in[0], x1 = in[1], x2 = in[2], x3 = in[3];
    uint32_t input = x1 ^ x2 ^ x3 ^ rk[0];
    for (int i = 0; i < SM4_ROUNDS; ++i) {
        const Halves t = RoundT(input);
        if (i + 1 < SM4_ROUNDS) input = x0 ^ x2 ^ x3 ^ rk[i + 1] ^ t.lo ^ t.hi;
        const uint32_t next = x0 ^ t.lo ^ t.hi;
        x0 = x1;
        x1 = x2;
        x2 = x3;
        x3 = next;
    }
    out[0] = x3;
    out[1] = x2;
    out[2] = x1;
    out[3] = x0;
}

} // namespace

uint32_t rotl32(uint32_t x, unsigned n)
{
    return Rot(x, n);
}

int sm4_set_key(const uint32_t key[4], uint32_t rk[SM4_ROUNDS])
{
    uint32_t k[4];
    for (int i = 0; i < 4; ++i) k[i] = key[i] ^ kFk[i];
    for (int i = 0; i < SM4_ROUNDS; ++i) {
        uint32_t next = k[0] ^ LinearKey(SubBytes(k[1] ^ k[2] ^ k[3] ^ CkWord(i)));
        rk[i] = next;
        k[0] = k[1];
        k[1] = k[2];
        k[2] = k[3];
        k[3] = next;
    }
    return 1;
}

int sm4_reverse_round_keys(uint32_t rk[SM4_ROUNDS])
{
    for (int i = 0; i < SM4_ROUNDS / 2; ++i) {
        uint32_t t = rk[i];
        rk[i] = rk[SM4_ROUNDS - 1 - i];
        rk[SM4_ROUNDS - 1 - i] = t;
    }
    return 1;
}

int sm4_crypt_block(const uint32_t in[4], const uint32_t rk[SM4_ROUNDS], uint32_t out[4])
{
    CryptWords(in, rk, out);
    return 1;
}

int sm4_cbc_block(const uint8_t in[SM4_BLOCK_SIZE], const uint32_t rk[SM4_ROUNDS], uint8_t iv[SM4_BLOCK_SIZE],
                  uint8_t out[SM4_BLOCK_SIZE], int enc)
{
    return sm4_cbc_blocks(in, 1, rk, iv, out, enc);
}

int sm4_cbc_blocks(const uint8_t *in, size_t count, const uint32_t rk[SM4_ROUNDS], uint8_t iv[SM4_BLOCK_SIZE],
                   uint8_t *out, int enc)
{
    uint32_t chain[4], x[4], y[4];
    for (int i = 0; i < 4; ++i) chain[i] = LoadBe32(iv + 4 * i);
    for (; count > 0; --count, in += SM4_BLOCK_SIZE, out += SM4_BLOCK_SIZE) {
        if (enc) {
            for (int i = 0; i < 4; ++i) x[i] = LoadBe32(in + 4 * i) ^ chain[i];
            CryptWords(x, rk, chain);
            for (int i = 0; i < 4; ++i) StoreBe32(out + 4 * i, chain[i]);
        } else {
            // Kept in words first: the output may be the input buffer.
            for (int i = 0; i < 4; ++i) x[i] = LoadBe32(in + 4 * i);
            CryptWords(x, rk, y);
            for (int i = 0; i < 4; ++i) {
                StoreBe32(out + 4 * i, y[i] ^ chain[i]);
                chain[i] = x[i];
            }
        }
    }
    for (int i = 0; i < 4; ++i) StoreBe32(iv + 4 * i, chain[i]);
    return 1;
}

int Sm4KeyFromBytes(SM4_KEY *key, const uint8_t bytes[SM4_KEY_LENGTH], int enc)
{
    for (int i = 0; i < 4; ++i) key->key[i] = LoadBe32(bytes + 4 * i);
    sm4_set_key(key->key, key->rk);
    if (!enc) sm4_reverse_round_keys(key->rk);
    return 1;
}

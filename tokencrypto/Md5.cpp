#include "tokencrypto/Md5.h"

#include <cstring>

namespace tokencrypto {
namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
constexpr unsigned kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t Rotl(uint32_t x, unsigned n)
{
    return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadLittleEndian(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void StoreLittleEndian(uint8_t* p, uint32_t v)
{
    for (unsigned i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

} // namespace

void MD5_Init(Md5Context* context)
{
    context->state[0] = 0x67452301;
    context->state[1] = 0xEFCDAB89;
    context->state[2] = 0x98BADCFE;
    context->state[3] = 0x10325476;
    context->count[0] = context->count[1] = 0;
    std::memset(context->buffer, 0, sizeof context->buffer);
}

void MD5_Transform(Md5Context* context, const uint8_t block[64])
{
    uint32_t x[16];
    for (unsigned i = 0; i < 16; ++i) x[i] = LoadLittleEndian(block + 4 * i);
    uint32_t a = context->state[0], b = context->state[1], c = context->state[2], d = context->state[3];
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned round = i / 16;
        uint32_t f;
        unsigned g;
        switch (round) {
        case 0:
            f = (b & c) | (~b & d);
            g = i;
            break;
        case 1:
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
            break;
        }
        const uint32_t rotated = b + Rotl(a + f + kSine[i] + x[g], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = rotated;
    }
    context->state[0] += a;
    context->state[1] += b;
    context->state[2] += c;
    context->state[3] += d;
}

void MD5_Update(Md5Context* context, const uint8_t* data, uint32_t length)
{
    uint32_t index = (context->count[0] >> 3) & 0x3F;
    context->count[0] += length << 3;
    if (context->count[0] < (length << 3)) context->count[1] += 1;
    context->count[1] += length >> 29;
    uint32_t i = 0;
    const uint32_t partLength = 64 - index;
    if (length >= partLength) {
        std::memcpy(context->buffer + index, data, partLength);
        MD5_Transform(context, context->buffer);
        for (i = partLength; i + 63 < length; i += 64) MD5_Transform(context, data + i);
        index = 0;
    }
    if (length > i) std::memcpy(context->buffer + index, data + i, length - i);
}

void MD5_Final(uint8_t digest[16], Md5Context* context)
{
    uint8_t bits[8];
    StoreLittleEndian(bits, context->count[0]);
    StoreLittleEndian(bits + 4, context->count[1]);
    static const uint8_t kPadding[64] = {0x80};
    const uint32_t index = (context->count[0] >> 3) & 0x3F;
    MD5_Update(context, kPadding, index < 56 ? 56 - index : 120 - index);
    MD5_Update(context, bits, 8);
    for (unsigned i = 0; i < 4; ++i) StoreLittleEndian(digest + 4 * i, context->state[i]);
}

} // namespace tokencrypto

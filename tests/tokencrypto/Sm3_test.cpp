#include "tokencrypto/Sm3.h"

#include <cstring>
#include <random>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "VectorFile.h"

namespace {

using namespace tokencrypto;
using test_vectors::Bytes;
using test_vectors::Hex;

std::vector<uint8_t> Sm3Pieces(const std::vector<uint8_t>& data, size_t piece)
{
    Sm3Context context;
    SM3_Init(&context);
    for (size_t offset = 0; offset < data.size(); offset += piece) {
        const size_t take = std::min(piece, data.size() - offset);
        SM3_Update(&context, data.data() + offset, uint32_t(take));
    }
    std::vector<uint8_t> digest(32);
    SM3_Final(&context, digest.data());
    return digest;
}

std::vector<uint8_t> OpenSslSm3(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> digest(32);
    unsigned length = 0;
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sm3(), nullptr));
    return digest;
}

class Sm3Vectors : public ::testing::TestWithParam<test_vectors::Stanza> { };

TEST_P(Sm3Vectors, DigestMatchesPublishedExample)
{
    const auto& stanza = GetParam();
    EXPECT_EQ(Hex(stanza.at("Digest")), Sm3Pieces(Bytes(stanza.at("Input")), 1 << 20)) << stanza.at("Name");
}

INSTANTIATE_TEST_SUITE_P(Published, Sm3Vectors, ::testing::ValuesIn(test_vectors::ReadVectorFile("sm3_gmt0004.txt")));

// Lengths around the block and padding boundaries (55 fits one final
// block, 56 needs two), each fed in pieces of every awkward size.
TEST(Sm3, PiecewiseUpdatesMatchOpenSsl)
{
    std::mt19937 random(7);
    for (size_t length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 129, 1000}) {
        std::vector<uint8_t> data(length);
        for (auto& byte : data) byte = uint8_t(random());
        const auto expected = OpenSslSm3(data);
        for (size_t piece : {1, 3, 63, 64, 65, 1000}) {
            EXPECT_EQ(expected, Sm3Pieces(data, piece)) << "length " << length << " piece " << piece;
        }
    }
}

TEST(Sm3, InitEqualsSettingTheFieldsByHand)
{
    Sm3Context byHand;
    std::memset(&byHand, 0xAA, sizeof byHand);
    const uint32_t iv[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                            0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};
    std::memcpy(byHand.state, iv, sizeof iv);
    byHand.used = byHand.bitsHigh = byHand.bitsLow = 0;
    Sm3Context initialised;
    SM3_Init(&initialised);
    const auto data = Bytes("abc");
    uint8_t a[32], b[32];
    SM3_Update(&byHand, data.data(), 3);
    SM3_Final(&byHand, a);
    SM3_Update(&initialised, data.data(), 3);
    SM3_Final(&initialised, b);
    EXPECT_EQ(0, std::memcmp(a, b, 32));
}

// The SM2 code preloads a context with one block's worth of counters; the
// bit count then has to carry into the high word instead of wrapping.
TEST(Sm3, BitCountCarriesIntoHighWord)
{
    Sm3Context context;
    SM3_Init(&context);
    context.bitsLow = 0xFFFFFF00;
    const uint8_t block[64] = {};
    SM3_Update(&context, block, 64);
    EXPECT_EQ(1u, context.bitsHigh);
    EXPECT_EQ(0x100u, context.bitsLow);
    SM3_Update(&context, block, 8);
    EXPECT_EQ(1u, context.bitsHigh);
    EXPECT_EQ(0x140u, context.bitsLow);
}

} // namespace

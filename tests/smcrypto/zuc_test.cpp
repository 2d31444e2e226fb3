#include "SmAlgorithms.h"
#include "SmEvp.h"
#include "TestDigest.h"
#include "VectorFile.h"
#include "Zuc.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace test_vectors;

TEST(Zuc, PublishedKeyStreams)
{
    for (const Stanza &s : ReadVectorFile("zuc.txt")) {
        std::vector<uint8_t> key = Hex(s.at("Key")), iv = Hex(s.at("IV"));
        ZUC_STATE st;
        zuc_initialize(key.data(), iv.data(), &st);
        char hex[9];
        snprintf(hex, sizeof hex, "%08x", zuc_next_word(&st));
        EXPECT_EQ(hex, s.at("Z1")) << s.at("Key");
        snprintf(hex, sizeof hex, "%08x", zuc_next_word(&st));
        EXPECT_EQ(hex, s.at("Z2")) << s.at("Key");
        if (s.count("Z2000")) {
            uint32_t z = 0;
            for (int i = 3; i <= 2000; ++i) z = zuc_next_word(&st);
            snprintf(hex, sizeof hex, "%08x", z);
            EXPECT_EQ(hex, s.at("Z2000"));
        }
    }
}

std::vector<uint8_t> ZucThroughEvp(const std::vector<uint8_t> &in, const std::vector<size_t> &pieces)
{
    std::vector<uint8_t> key = Pattern(16, 11), iv = Pattern(16, 12), out(in.size());
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    bool ok = EVP_EncryptInit_ex(ctx, EVP_zuc(), nullptr, key.data(), iv.data());
    size_t at = 0;
    for (size_t n : pieces) {
        int len = 0;
        ok = ok && EVP_EncryptUpdate(ctx, out.data() + at, &len, in.data() + at, int(n)) && size_t(len) == n;
        at += n;
    }
    EVP_CIPHER_CTX_free(ctx);
    return ok ? out : std::vector<uint8_t>();
}

class ZucChunking : public ::testing::TestWithParam<std::vector<size_t>> { };

// The key stream runs on across calls: no bytes of a word are dropped at
// the end of a call.
TEST_P(ZucChunking, SameOutputAsOneCall)
{
    size_t total = 0;
    for (size_t n : GetParam()) total += n;
    std::vector<uint8_t> plain = Pattern(total, 5);
    std::vector<uint8_t> whole = ZucThroughEvp(plain, {total});
    ASSERT_EQ(whole.size(), total);
    EXPECT_EQ(ZucThroughEvp(plain, GetParam()), whole);
}

INSTANTIATE_TEST_SUITE_P(Zuc, ZucChunking,
                         ::testing::Values(std::vector<size_t> {4, 4}, std::vector<size_t> {3, 5},
                                           std::vector<size_t> {1, 1, 1, 1, 1, 1, 1, 1},
                                           std::vector<size_t> {0, 7, 0, 2, 9}, std::vector<size_t> {5, 3, 6, 2, 100}));

TEST(Zuc, EvpOutputIsKeyStreamXorAndRoundTrips)
{
    std::vector<uint8_t> key = Pattern(16, 11), iv = Pattern(16, 12), plain = Pattern(40, 5);
    ZUC_STATE st;
    zuc_initialize(key.data(), iv.data(), &st);
    std::vector<uint8_t> expect(plain.size());
    for (size_t i = 0; i < plain.size(); i += 4) {
        uint32_t z = zuc_next_word(&st);
        for (size_t k = 0; k < 4 && i + k < plain.size(); ++k)
            expect[i + k] = plain[i + k] ^ uint8_t(z >> (24 - 8 * k));
    }
    std::vector<uint8_t> cipher = ZucThroughEvp(plain, {plain.size()});
    EXPECT_EQ(cipher, expect);
    EXPECT_EQ(ZucThroughEvp(cipher, {13, 27}), plain);
}

TEST(Zuc, MissingIvAndShortKeyAreRefused)
{
    std::vector<uint8_t> key = Pattern(16, 11), iv = Pattern(16, 3);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EXPECT_FALSE(EVP_EncryptInit_ex(ctx, EVP_zuc(), nullptr, key.data(), nullptr));
    // The method allows another key length; a heap key of that length
    // must not be read past.
    std::vector<uint8_t> shortKey = Pattern(8, 11);
    ASSERT_TRUE(EVP_EncryptInit_ex(ctx, EVP_zuc(), nullptr, nullptr, nullptr));
    ASSERT_TRUE(EVP_CIPHER_CTX_set_key_length(ctx, 8));
    EXPECT_FALSE(EVP_EncryptInit_ex(ctx, nullptr, nullptr, shortKey.data(), iv.data()));
    EVP_CIPHER_CTX_free(ctx);
}

} // namespace

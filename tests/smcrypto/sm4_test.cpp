#include "Sm4.h"
#include "SmEvp.h"
#include "TestDigest.h"
#include "VectorFile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace test_vectors;

std::vector<uint8_t> EvpCrypt(const EVP_CIPHER *c, const std::vector<uint8_t> &key, const std::vector<uint8_t> &iv,
                              const std::vector<uint8_t> &in, int enc, bool pad, size_t chunk)
{
    std::vector<uint8_t> out(in.size() + 32);
    int total = 0, n = 0;
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    bool ok =
        EVP_CipherInit_ex(ctx, c, nullptr, key.data(), iv.data(), enc) && EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    for (size_t i = 0; ok && i < in.size(); i += chunk) {
        ok = EVP_CipherUpdate(ctx, out.data() + total, &n, in.data() + i, int(std::min(chunk, in.size() - i)));
        total += n;
    }
    ok = ok && EVP_CipherFinal_ex(ctx, out.data() + total, &n);
    EVP_CIPHER_CTX_free(ctx);
    total += n;
    out.resize(ok ? size_t(total) : 0);
    return ok ? out : std::vector<uint8_t> {0xEE};
}

TEST(Sm4, PublishedVectors)
{
    for (const Stanza &s : ReadVectorFile("sm4.txt")) {
        SM4_KEY key;
        std::vector<uint8_t> k = Hex(s.at("Key")), p = Hex(s.at("Plaintext"));
        Sm4KeyFromBytes(&key, k.data(), 1);
        uint32_t x[4];
        for (int i = 0; i < 4; ++i)
            x[i] = (uint32_t(p[4 * i]) << 24) | (uint32_t(p[4 * i + 1]) << 16) | (uint32_t(p[4 * i + 2]) << 8) |
                p[4 * i + 3];
        for (long n = std::stol(s.at("Iterations")); n > 0; --n) sm4_crypt_block(x, key.rk, x);
        char hex[33];
        snprintf(hex, sizeof hex, "%08x%08x%08x%08x", x[0], x[1], x[2], x[3]);
        EXPECT_EQ(hex, s.at("Ciphertext")) << s.at("Iterations") << " iterations";
    }
}

// One CBC block under a zero IV is the plain block cipher.
TEST(Sm4, SingleCbcBlockWithZeroIvIsPublishedCiphertext)
{
    Stanza s = ReadVectorFile("sm4.txt").front();
    std::vector<uint8_t> iv(16, 0);
    EXPECT_EQ(ToHex(EvpCrypt(EVP_smcrypto_sm4_cbc(), Hex(s.at("Key")), iv, Hex(s.at("Plaintext")), 1, false, 16)),
              s.at("Ciphertext"));
}

struct CbcCase {
    size_t length;
    bool pad;
    size_t chunk;
};

class Sm4Cbc : public ::testing::TestWithParam<CbcCase> { };

// Our method and libcrypto's SM4-CBC give the same ciphertext, each
// decrypts the other's, and the chunking of the calls does not matter
// (the IV chains through the context).
TEST_P(Sm4Cbc, AgreesWithLibraryBothWays)
{
    const CbcCase &c = GetParam();
    std::vector<uint8_t> key = Pattern(16, 1), iv = Pattern(16, 2), plain = Pattern(c.length, 3);
    std::vector<uint8_t> ours = EvpCrypt(EVP_smcrypto_sm4_cbc(), key, iv, plain, 1, c.pad, c.chunk);
    std::vector<uint8_t> theirs = EvpCrypt(EVP_sm4_cbc(), key, iv, plain, 1, c.pad, plain.size() + 1);
    ASSERT_EQ(ToHex(ours), ToHex(theirs));
    EXPECT_EQ(ours.size(), c.pad ? (c.length / 16 + 1) * 16 : c.length);
    EXPECT_EQ(EvpCrypt(EVP_smcrypto_sm4_cbc(), key, iv, theirs, 0, c.pad, c.chunk), plain);
    EXPECT_EQ(EvpCrypt(EVP_sm4_cbc(), key, iv, ours, 0, c.pad, ours.size() + 1), plain);
}

INSTANTIATE_TEST_SUITE_P(Sm4, Sm4Cbc,
                         ::testing::Values(CbcCase {32, false, 16}, CbcCase {32, false, 32}, CbcCase {48, true, 7},
                                           CbcCase {0, true, 1}, CbcCase {100, true, 33}, CbcCase {4096, false, 1000}));

TEST(Sm4, ReverseRoundKeysTwiceIsIdentity)
{
    uint32_t key[4] = {1, 2, 3, 4}, rk[SM4_ROUNDS], copy[SM4_ROUNDS];
    sm4_set_key(key, rk);
    std::copy(rk, rk + SM4_ROUNDS, copy);
    sm4_reverse_round_keys(rk);
    EXPECT_EQ(rk[0], copy[31]);
    sm4_reverse_round_keys(rk);
    EXPECT_TRUE(std::equal(rk, rk + SM4_ROUNDS, copy));
    EXPECT_EQ(rotl32(0x80000001u, 33), 0x00000003u);
}

} // namespace

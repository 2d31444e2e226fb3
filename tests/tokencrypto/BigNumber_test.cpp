#include "tokencrypto/BigNumber.h"

#include <random>

#include <gtest/gtest.h>
#include <openssl/bn.h>

namespace {

using namespace tokencrypto;

struct Bn {
    BIGNUM* value = BN_new();
    ~Bn() { BN_free(value); }
};

void ToBn(Bn* out, const uint32_t* a, uint32_t digits)
{
    std::vector<uint8_t> bytes(4 * digits);
    BigNum_Encode(bytes.data(), uint32_t(bytes.size()), a, digits);
    BN_bin2bn(bytes.data(), int(bytes.size()), out->value);
}

std::vector<uint32_t> RandomDigits(std::mt19937* random, uint32_t digits, uint32_t significant)
{
    std::vector<uint32_t> a(digits, 0);
    for (uint32_t i = 0; i < significant; ++i) a[i] = uint32_t((*random)());
    return a;
}

// Our b^c mod d against OpenSSL's: zero when they agree.
int CompareModExp(const std::vector<uint32_t>& b, const std::vector<uint32_t>& c, const std::vector<uint32_t>& d,
                  BN_CTX* ctx)
{
    const uint32_t digits = uint32_t(d.size());
    std::vector<uint32_t> a(digits);
    BigNum_ModExp(a.data(), b.data(), c.data(), digits, d.data(), digits);
    Bn bb, bc, bd, ba, expected;
    ToBn(&bb, b.data(), digits);
    ToBn(&bc, c.data(), digits);
    ToBn(&bd, d.data(), digits);
    ToBn(&ba, a.data(), digits);
    BN_mod_exp(expected.value, bb.value, bc.value, bd.value, ctx);
    return BN_cmp(expected.value, ba.value);
}

struct Sizes {
    uint32_t dividend, divisor;
};

class BigNumberAgainstOpenSsl : public ::testing::TestWithParam<Sizes> {
protected:
    BN_CTX* ctx_ = BN_CTX_new();
    ~BigNumberAgainstOpenSsl() override { BN_CTX_free(ctx_); }
};

TEST_P(BigNumberAgainstOpenSsl, DivisionMatches)
{
    std::mt19937 random(GetParam().dividend * 100 + GetParam().divisor);
    for (int round = 0; round < 20; ++round) {
        auto c = RandomDigits(&random, GetParam().dividend, GetParam().dividend);
        auto d = RandomDigits(&random, GetParam().divisor, GetParam().divisor);
        if (round % 3 == 0) d.back() = 0xFFFFFFFF; // top digit all ones
        if (round % 3 == 1) d.back() = 1;
        std::vector<uint32_t> q(c.size()), r(d.size());
        BigNum_Div(q.data(), r.data(), c.data(), uint32_t(c.size()), d.data(), uint32_t(d.size()));
        Bn bc, bd, bq, br, eq, er;
        ToBn(&bc, c.data(), uint32_t(c.size()));
        ToBn(&bd, d.data(), uint32_t(d.size()));
        ToBn(&bq, q.data(), uint32_t(q.size()));
        ToBn(&br, r.data(), uint32_t(r.size()));
        BN_div(eq.value, er.value, bc.value, bd.value, ctx_);
        EXPECT_EQ(0, BN_cmp(eq.value, bq.value)) << "quotient, round " << round;
        EXPECT_EQ(0, BN_cmp(er.value, br.value)) << "remainder, round " << round;
    }
}

TEST_P(BigNumberAgainstOpenSsl, ModularExponentiationAndInverseMatch)
{
    const uint32_t digits = GetParam().divisor;
    std::mt19937 random(digits);
    for (int round = 0; round < 6; ++round) {
        auto d = RandomDigits(&random, digits, digits);
        if (round % 2 == 0)
            d[0] |= 1;
        else
            d[0] &= ~1u; // odd and even moduli
        const auto b = RandomDigits(&random, digits, digits);
        const auto c = RandomDigits(&random, digits, digits);
        EXPECT_EQ(0, CompareModExp(b, c, d, ctx_)) << "b^c mod d, round " << round;

        Bn bb, bd, inverse;
        ToBn(&bb, b.data(), digits);
        ToBn(&bd, d.data(), digits);
        if (BN_mod_inverse(inverse.value, bb.value, bd.value, ctx_) != nullptr) {
            std::vector<uint32_t> mine(digits);
            BigNum_ModInv(mine.data(), b.data(), d.data(), digits);
            Bn bm;
            ToBn(&bm, mine.data(), digits);
            EXPECT_EQ(0, BN_cmp(inverse.value, bm.value)) << "inverse, round " << round;
        }
    }
}

// All-ones limbs keep every column sum of the Montgomery products at its
// largest, where a lost carry or a wrong doubling of the squares shows.
TEST(BigNumber, ModularExponentiationWithAllOnesOperands)
{
    BN_CTX* ctx = BN_CTX_new();
    for (uint32_t digits : {1u, 2u, 3u, 8u, 16u, 17u, 32u, 33u, 64u}) {
        std::vector<uint32_t> d(digits, 0xFFFFFFFF), c(digits, 0xFFFFFFFF);
        for (uint32_t below : {1u, 2u, 0x80000001u}) {
            std::vector<uint32_t> b = d;
            b[0] -= below;
            EXPECT_EQ(0, CompareModExp(b, c, d, ctx)) << digits << " digits, base d - " << below;
        }
    }
    BN_CTX_free(ctx);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BigNumberAgainstOpenSsl,
                         ::testing::Values(Sizes {2, 1}, Sizes {8, 8}, Sizes {9, 8}, Sizes {64, 32}, Sizes {65, 33},
                                           Sizes {64, 64}, Sizes {3, 5}));

TEST(BigNumber, BytesRoundTripRightAligned)
{
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05};
    uint32_t a[3];
    BigNum_Decode(a, 3, bytes, sizeof bytes);
    EXPECT_EQ(0x02030405u, a[0]);
    EXPECT_EQ(0x01u, a[1]);
    EXPECT_EQ(0u, a[2]);
    uint8_t out[7];
    BigNum_Encode(out, sizeof out, a, 3);
    const uint8_t expected[] = {0, 0, 0x01, 0x02, 0x03, 0x04, 0x05};
    EXPECT_EQ(0, memcmp(expected, out, sizeof out));
}

} // namespace

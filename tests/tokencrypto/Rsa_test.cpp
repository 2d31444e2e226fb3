#include "tokencrypto/Rsa.h"

#include <cstring>
#include <random>

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include "DeadStack.h"
#include "OpenSslRsa.h"
#include "tokencrypto/BigNumber.h"

namespace {

using namespace tokencrypto;
using tokencrypto_test::ClearDeadStack;
using tokencrypto_test::DeadStack;
using tokencrypto_test::Holds;
using tokencrypto_test::OpenSslRsaKey;

std::vector<uint8_t> RandomBelow(const std::vector<uint8_t>& modulus, std::mt19937* random)
{
    std::vector<uint8_t> value(modulus.size());
    for (auto& byte : value) byte = uint8_t((*random)());
    value[0] = uint8_t(value[0] % modulus[0]);
    return value;
}

std::vector<uint8_t> Public(const RsaPublicKey& key, const std::vector<uint8_t>& input, uint32_t* result)
{
    std::vector<uint8_t> out(256);
    uint32_t length = 0;
    *result = soft_RSA_PublicEncrypt(out.data(), &length, input.data(), uint32_t(input.size()), &key);
    out.resize(length);
    return out;
}

std::vector<uint8_t> Private(const RsaPrivateKey& key, const std::vector<uint8_t>& input, uint32_t* result)
{
    std::vector<uint8_t> out(256);
    uint32_t length = 0;
    *result = soft_RSA_PrivateDecrypt(out.data(), &length, input.data(), uint32_t(input.size()), &key);
    out.resize(length);
    return out;
}

class RsaWithOpenSslKey : public ::testing::TestWithParam<unsigned> { };

TEST_P(RsaWithOpenSslKey, RawOperationsMatchOpenSsl)
{
    const OpenSslRsaKey key(GetParam());
    const auto publicKey = key.PublicRecord();
    const auto privateKey = key.PrivateRecord();
    std::mt19937 random(GetParam());
    for (int round = 0; round < 4; ++round) {
        const auto input = RandomBelow(key.n, &random);
        uint32_t result = 1;
        EXPECT_EQ(key.RawPublic(input), Public(publicKey, input, &result));
        EXPECT_EQ(RSA_OK, result);
        EXPECT_EQ(key.RawPrivate(input), Private(privateKey, input, &result));
        EXPECT_EQ(RSA_OK, result);
    }
}

// Keys from other sources may have q > p; the CRT recombination must not
// depend on the order.
TEST_P(RsaWithOpenSslKey, PrivateOperationHoldsWithSmallerFirstPrime)
{
    const OpenSslRsaKey key(GetParam());
    auto privateKey = key.PrivateRecord();
    std::swap(privateKey.prime[0], privateKey.prime[1]);
    std::swap(privateKey.primeExponent[0], privateKey.primeExponent[1]);
    BIGNUM* p = BN_bin2bn(key.q.data(), int(key.q.size()), nullptr);
    BIGNUM* q = BN_bin2bn(key.p.data(), int(key.p.size()), nullptr);
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* qInv = BN_mod_inverse(nullptr, q, p, ctx);
    BN_bn2binpad(qInv, privateKey.coefficient, sizeof privateKey.coefficient);
    std::mt19937 random(3);
    for (int round = 0; round < 4; ++round) {
        const auto input = RandomBelow(key.n, &random);
        uint32_t result = 1;
        EXPECT_EQ(key.RawPrivate(input), Private(privateKey, input, &result));
    }
    BN_free(qInv);
    BN_CTX_free(ctx);
    BN_free(p);
    BN_free(q);
}

TEST_P(RsaWithOpenSslKey, InputsAtTheModulusBoundary)
{
    const OpenSslRsaKey key(GetParam());
    const auto publicKey = key.PublicRecord();
    const auto privateKey = key.PrivateRecord();
    uint32_t result = 0;
    Public(publicKey, key.n, &result);
    EXPECT_EQ(RSA_ERR_DATA, result) << "modulus";
    Private(privateKey, key.n, &result);
    EXPECT_EQ(RSA_ERR_DATA, result) << "modulus, private";
    auto nMinus1 = key.n;
    nMinus1.back() -= 1; // n is odd
    Public(publicKey, nMinus1, &result);
    EXPECT_EQ(RSA_OK, result) << "modulus - 1";
    // A digit above the modulus's length must count, not be dropped.
    std::vector<uint8_t> longer(key.n.size() + 4, 0);
    longer[1] = 1;
    Public(publicKey, longer, &result);
    EXPECT_EQ(RSA_ERR_DATA, result) << "longer than the modulus";
    // A small result keeps its leading zeros in the full-length output.
    const auto one = Public(publicKey, {1}, &result);
    std::vector<uint8_t> expected(GetParam() / 8, 0);
    expected.back() = 1;
    EXPECT_EQ(expected, one);
    EXPECT_EQ(expected, Private(privateKey, {0, 0, 1}, &result));
}

// 2^exponent mod m, big-endian.
std::vector<uint8_t> PowerOfTwo(unsigned exponent, const std::vector<uint8_t>& modulus)
{
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *m = BN_bin2bn(modulus.data(), int(modulus.size()), nullptr), *r = BN_new();
    BN_set_bit(r, int(exponent));
    BN_mod(r, r, m, ctx);
    std::vector<uint8_t> bytes(size_t(BN_num_bytes(r)));
    BN_bn2bin(r, bytes.data());
    BN_free(r);
    BN_free(m);
    BN_CTX_free(ctx);
    return bytes;
}

// Besides the key's private values, R^2 and R^3 modulo each prime (R =
// 2^(bits / 2), the primes' Montgomery radix) give a prime away to anyone
// who knows n.
TEST_P(RsaWithOpenSslKey, PrivateOperationLeavesNoSecretOnTheStack)
{
    const OpenSslRsaKey key(GetParam());
    const auto privateKey = key.PrivateRecord();
    const unsigned r = GetParam() / 2;
    const struct {
        const char* label;
        std::vector<uint8_t> value;
    } secrets[] = {{"p", key.p},
                   {"q", key.q},
                   {"dP", key.dP},
                   {"dQ", key.dQ},
                   {"qInv", key.qInv},
                   {"R^2 mod p", PowerOfTwo(2 * r, key.p)},
                   {"R^3 mod p", PowerOfTwo(3 * r, key.p)},
                   {"R^2 mod q", PowerOfTwo(2 * r, key.q)},
                   {"R^3 mod q", PowerOfTwo(3 * r, key.q)}};
    std::mt19937 random(5);
    const auto input = RandomBelow(key.n, &random);
    std::vector<uint8_t> output(256);
    uint32_t length = 0;
    ClearDeadStack();
    const uint32_t result =
        soft_RSA_PrivateDecrypt(output.data(), &length, input.data(), uint32_t(input.size()), &privateKey);
    const auto stack = DeadStack();
    EXPECT_EQ(RSA_OK, result);
    for (const auto& secret : secrets) EXPECT_FALSE(Holds(stack, secret.value)) << secret.label;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RsaWithOpenSslKey, ::testing::Values(1024u, 2048u));

TEST(RsaKeyGeneration, KeysHaveTheRequiredShape)
{
    for (uint32_t bits : {1024u, 2048u}) {
        RsaPublicKey publicKey;
        RsaPrivateKey privateKey;
        ClearDeadStack();
        const uint32_t generated = RSA_GenerateKey(bits, &publicKey, &privateKey);
        const auto stack = DeadStack();
        ASSERT_EQ(RSA_OK, generated) << bits;
        const uint32_t h = bits / 16;
        const uint8_t* p = privateKey.prime[0] + RSA_MAX_PRIME_LEN - h;
        const uint8_t* q = privateKey.prime[1] + RSA_MAX_PRIME_LEN - h;
        for (const uint8_t* prime : {p, q}) {
            EXPECT_FALSE(Holds(stack, std::vector<uint8_t>(prime, prime + h))) << "a prime left on the stack";
        }
        EXPECT_GT(std::memcmp(p, q, h), 0) << "p > q";
        EXPECT_EQ(0xC0, p[0] & 0xC0) << "two top bits of p";
        EXPECT_EQ(0xC0, q[0] & 0xC0) << "two top bits of q";
        EXPECT_EQ(bits, publicKey.bits);

        BN_CTX* ctx = BN_CTX_new();
        BIGNUM* bp = BN_bin2bn(privateKey.prime[0], RSA_MAX_PRIME_LEN, nullptr);
        BIGNUM* bq = BN_bin2bn(privateKey.prime[1], RSA_MAX_PRIME_LEN, nullptr);
        BIGNUM* e = BN_bin2bn(privateKey.publicExponent, RSA_MAX_MODULUS_LEN, nullptr);
        BIGNUM* d = BN_bin2bn(privateKey.exponent, RSA_MAX_MODULUS_LEN, nullptr);
        BIGNUM* phi = BN_new();
        BIGNUM* ed = BN_new();
        BN_sub_word(bp, 1);
        BN_sub_word(bq, 1);
        BN_mul(phi, bp, bq, ctx);
        BN_mod_mul(ed, e, d, phi, ctx);
        EXPECT_TRUE(BN_is_one(ed)) << "e d = 1 mod phi";
        EXPECT_EQ(65537u, BN_get_word(e));
        for (BIGNUM* x : {bp, bq, e, d, phi, ed}) BN_free(x);
        BN_CTX_free(ctx);

        const std::vector<uint8_t> message = {0x12, 0x34, 0x56};
        uint32_t result = 1;
        const auto cipher = Public(publicKey, message, &result);
        ASSERT_EQ(RSA_OK, result);
        auto plain = Private(privateKey, cipher, &result);
        ASSERT_EQ(RSA_OK, result);
        plain.erase(plain.begin(), plain.end() - 3);
        EXPECT_EQ(message, plain);
    }
}

BIGNUM* FieldNumber(const uint8_t* field, size_t length)
{
    return BN_bin2bn(field, int(length), nullptr);
}

// d, d mod (p - 1), d mod (q - 1) and q^-1 mod p as OpenSSL computes them,
// for both public exponents the generator offers.
TEST(RsaKeyGeneration, CrtValuesMatchOpenSsl)
{
    for (const uint32_t useFermat4 : {0u, 1u}) {
        RandomPool pool = {};
        const uint8_t seed[16] = {uint8_t(9 + useFermat4)};
        RandomPool_Update(&pool, seed);
        const RsaKeyGenParams params = {1024, useFermat4};
        RsaPublicKey publicKey;
        RsaPrivateKey privateKey;
        ASSERT_EQ(RSA_OK, RSA_GenerateKeyPair(&publicKey, &privateKey, &params, &pool));

        BN_CTX* ctx = BN_CTX_new();
        BIGNUM* p = FieldNumber(privateKey.prime[0], RSA_MAX_PRIME_LEN);
        BIGNUM* q = FieldNumber(privateKey.prime[1], RSA_MAX_PRIME_LEN);
        BIGNUM* e = FieldNumber(privateKey.publicExponent, RSA_MAX_MODULUS_LEN);
        BIGNUM *pMinus1 = BN_dup(p), *qMinus1 = BN_dup(q), *phi = BN_new();
        BN_sub_word(pMinus1, 1);
        BN_sub_word(qMinus1, 1);
        BN_mul(phi, pMinus1, qMinus1, ctx);
        EXPECT_EQ(useFermat4 ? 65537u : 3u, BN_get_word(e));
        const struct {
            const uint8_t* field;
            size_t length;
            BIGNUM* expected;
        } values[] = {
            {privateKey.exponent, RSA_MAX_MODULUS_LEN, BN_mod_inverse(nullptr, e, phi, ctx)},
            {privateKey.primeExponent[0], RSA_MAX_PRIME_LEN, BN_mod_inverse(nullptr, e, pMinus1, ctx)},
            {privateKey.primeExponent[1], RSA_MAX_PRIME_LEN, BN_mod_inverse(nullptr, e, qMinus1, ctx)},
            {privateKey.coefficient, RSA_MAX_PRIME_LEN, BN_mod_inverse(nullptr, q, p, ctx)},
        };
        for (const auto& value : values) {
            BIGNUM* ours = FieldNumber(value.field, value.length);
            EXPECT_EQ(0, BN_cmp(ours, value.expected)) << "e = " << BN_get_word(e) << ", field " << &value - values;
            BN_free(ours);
            BN_free(value.expected);
        }
        for (BIGNUM* x : {p, q, e, pMinus1, qMinus1, phi}) BN_free(x);
        BN_CTX_free(ctx);
    }
}

TEST(RsaKeyGeneration, SizesOutsideTheRangeAreRefused)
{
    RsaPublicKey publicKey;
    RsaPrivateKey privateKey;
    EXPECT_EQ(RSA_ERR_MODULUS_LEN, RSA_GenerateKey(1023, &publicKey, &privateKey));
    EXPECT_EQ(RSA_ERR_MODULUS_LEN, RSA_GenerateKey(2049, &publicKey, &privateKey));
}

TEST(RsaKeyGeneration, PrimeSearchWaitsForASeededPool)
{
    RandomPool pool = {};
    pool.bytesNeeded = 16;
    uint32_t a[4] = {0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA};
    const uint32_t lower[4] = {0, 0, 0, 0xC0000000}, upper[4] = {~0u, ~0u, ~0u, ~0u}, step[4] = {2};
    EXPECT_EQ(RSA_ERR_NEED_RANDOM, RSA_GeneratePrime(a, lower, upper, step, 4, &pool));
    EXPECT_EQ(0xAAAAAAAAu, a[0]);
    EXPECT_EQ(0xAAAAAAAAu, a[3]);
}

// 64-bit candidates, small enough to check by trial division here.
TEST(RsaKeyGeneration, PrimeSearchFindsPrimesInARange)
{
    RandomPool pool = {};
    uint8_t seed[16] = {1};
    RandomPool_Update(&pool, seed);
    for (int round = 0; round < 20; ++round) {
        uint32_t a[2];
        const uint32_t lower[2] = {0, 0x80000000}, upper[2] = {~0u, 0xFFFFFFFF}, step[2] = {2};
        ASSERT_EQ(RSA_OK, RSA_GeneratePrime(a, lower, upper, step, 2, &pool));
        const uint64_t value = (uint64_t(a[1]) << 32) | a[0];
        bool prime = value % 2 == 1;
        for (uint64_t d = 3; prime && d * d <= value && d < 5000000; d += 2) prime = value % d != 0;
        EXPECT_TRUE(prime) << value;
    }
}

// Every candidate is drawn afresh, so each prime of a range is found about
// as often. 492113 and 492227 are consecutive primes: a search that stepped
// on from a rejected candidate would end on the second from 57 of the 58
// candidates.
TEST(RsaKeyGeneration, PrimeSearchDrawsEachCandidateAfresh)
{
    RandomPool pool = {};
    const uint8_t seed[16] = {4};
    RandomPool_Update(&pool, seed);
    const uint32_t lower[2] = {492113}, upper[2] = {492227}, step[2] = {2};
    int first = 0;
    for (int round = 0; round < 64; ++round) {
        uint32_t a[2] = {};
        ASSERT_EQ(RSA_OK, RSA_GeneratePrime(a, lower, upper, step, 2, &pool));
        ASSERT_TRUE((a[0] == lower[0] || a[0] == upper[0]) && a[1] == 0) << a[0];
        first += a[0] == lower[0];
    }
    EXPECT_GE(first, 16);
}

// [12, 12] holds no value one more than a multiple of 6; [13, 13] holds one.
TEST(RsaKeyGeneration, PrimeSearchKeepsToItsRange)
{
    RandomPool pool = {};
    const uint8_t seed[16] = {3};
    RandomPool_Update(&pool, seed);
    const uint32_t twelve[2] = {12}, thirteen[2] = {13}, six[2] = {6};
    uint32_t a[2] = {};
    EXPECT_EQ(RSA_ERR_DATA, RSA_GeneratePrime(a, twelve, twelve, six, 2, &pool));
    EXPECT_EQ(0u, a[0]);
    EXPECT_EQ(RSA_OK, RSA_GeneratePrime(a, thirteen, thirteen, six, 2, &pool));
    EXPECT_EQ(13u, a[0]);
}

// Composites that pass the base-2 Fermat test and have no factor below
// 1000: the squares of the Wieferich primes and the Carmichael number
// 1171 * 2341 * 3511. Each range holds the one candidate, which must be
// refused.
TEST(RsaKeyGeneration, PrimeSearchRefusesFermatPseudoprimes)
{
    RandomPool pool = {};
    uint8_t seed[16] = {2};
    RandomPool_Update(&pool, seed);
    for (const uint64_t composite : {uint64_t(1093) * 1093, uint64_t(3511) * 3511, uint64_t(1171) * 2341 * 3511}) {
        const uint32_t bound[2] = {uint32_t(composite), uint32_t(composite >> 32)}, step[2] = {2};
        uint32_t a[2] = {};
        EXPECT_EQ(RSA_ERR_DATA, RSA_GeneratePrime(a, bound, bound, step, 2, &pool)) << composite;
    }
}

// One composite candidate is refused after one test, not after a wide
// range's thousands of draws: the pool has stepped its counter a few times.
TEST(RsaKeyGeneration, PrimeSearchTestsEachCandidateOfANarrowRangeOnce)
{
    const OpenSslRsaKey key(1055);
    uint32_t n[33], a[33] = {}, two[33] = {2};
    BigNum_Decode(n, 33, key.n.data(), uint32_t(key.n.size()));
    RandomPool pool = {};
    uint8_t seed[16] = {6};
    RandomPool_Update(&pool, seed);
    RandomPool start = pool;
    EXPECT_EQ(RSA_ERR_DATA, RSA_GeneratePrime(a, n, n, two, 33, &pool));
    for (int i = 0; i < 4 && std::memcmp(start.state, pool.state, 16); ++i) RandomPool_GenerateBytes(seed, 16, &start);
    EXPECT_EQ(0, std::memcmp(start.state, pool.state, 16));
}

// The output length comes from bits, which must describe the modulus.
TEST(Rsa, BitsThatDoNotFitTheModulusAreRefused)
{
    const OpenSslRsaKey key(1024);
    std::vector<uint8_t> input(128, 0x11), output(256);
    uint32_t length = 0;
    for (const uint32_t bits : {0u, 1023u, 2049u}) {
        RsaPublicKey publicRecord = key.PublicRecord();
        RsaPrivateKey privateRecord = key.PrivateRecord();
        publicRecord.bits = privateRecord.bits = bits;
        EXPECT_EQ(RSA_ERR_MODULUS_LEN, soft_RSA_PublicEncrypt(output.data(), &length, input.data(), 128, &publicRecord))
            << bits;
        EXPECT_EQ(RSA_ERR_MODULUS_LEN,
                  soft_RSA_PrivateDecrypt(output.data(), &length, input.data(), 128, &privateRecord))
            << bits;
    }
}

// Moduli shorter than any key are refused before any work: with modulus 1
// and input 0 the blinding draw had nothing to draw from and never ended.
TEST(Rsa, ModuliShorterThanAnyKeyAreRefused)
{
    const OpenSslRsaKey key(1024);
    std::vector<uint8_t> shorter(key.n.begin(), key.n.begin() + 125);
    shorter.back() |= 1;
    for (const auto& modulus : {std::vector<uint8_t> {1}, shorter}) {
        RsaPrivateKey record = key.PrivateRecord();
        std::memset(record.modulus, 0, RSA_MAX_MODULUS_LEN);
        std::memcpy(record.modulus + RSA_MAX_MODULUS_LEN - modulus.size(), modulus.data(), modulus.size());
        const uint8_t input[1] = {0};
        uint8_t output[256];
        uint32_t length = 0;
        EXPECT_EQ(RSA_ERR_MODULUS_LEN, soft_RSA_PrivateDecrypt(output, &length, input, 1, &record)) << modulus.size();
    }
}

// A key whose CRT values do not belong together gives an error, never a
// result that could give a prime away.
TEST(Rsa, FaultyCrtResultIsWithheld)
{
    const OpenSslRsaKey key(1024);
    RsaPrivateKey record = key.PrivateRecord();
    record.coefficient[RSA_MAX_PRIME_LEN - 1] ^= 1;
    std::vector<uint8_t> input(128, 0x11), output(128, 0xEE);
    uint32_t length = 0;
    EXPECT_EQ(RSA_ERR_DATA, soft_RSA_PrivateDecrypt(output.data(), &length, input.data(), 128, &record));
    EXPECT_EQ(std::vector<uint8_t>(128, 0xEE), output);
}

} // namespace

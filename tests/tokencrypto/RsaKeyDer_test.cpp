#include "tokencrypto/RsaKeyDer.h"

#include <cstring>

#include <gtest/gtest.h>

#include "OpenSslRsa.h"

namespace {

using namespace tokencrypto;
using tokencrypto_test::OpenSslRsaKey;

// value right-aligned within the first length bytes of field, zero behind.
void ExpectPlaced(const uint8_t* field, uint32_t fieldLength, uint32_t length, const std::vector<uint8_t>& value,
                  const char* label)
{
    std::vector<uint8_t> expected(fieldLength, 0);
    std::memcpy(expected.data() + length - value.size(), value.data(), value.size());
    EXPECT_EQ(expected, std::vector<uint8_t>(field, field + fieldLength)) << label;
}

class RsaKeyDerFromOpenSsl : public ::testing::TestWithParam<unsigned> { };

TEST_P(RsaKeyDerFromOpenSsl, FieldsLandForTheToken)
{
    const unsigned bits = GetParam();
    const OpenSslRsaKey key(bits);
    const auto der = key.Der();
    RsaPrivateKey record;
    std::memset(&record, 0x5A, sizeof record); // stale bytes must not survive
    ASSERT_EQ(DER_OK, DerDecodeRSAKey(der.data(), uint32_t(der.size()), &record));
    EXPECT_EQ(bits, record.bits);
    const uint32_t n = bits / 8, h = n / 2;
    ExpectPlaced(record.modulus, RSA_MAX_MODULUS_LEN, n, key.n, "modulus");
    ExpectPlaced(record.publicExponent, RSA_MAX_MODULUS_LEN, n, key.e, "publicExponent");
    ExpectPlaced(record.exponent, RSA_MAX_MODULUS_LEN, n, key.d, "exponent");
    ExpectPlaced(record.prime[0], RSA_MAX_PRIME_LEN, h, key.p, "prime1");
    ExpectPlaced(record.prime[1], RSA_MAX_PRIME_LEN, h, key.q, "prime2");
    ExpectPlaced(record.primeExponent[0], RSA_MAX_PRIME_LEN, h, key.dP, "exponent1");
    ExpectPlaced(record.primeExponent[1], RSA_MAX_PRIME_LEN, h, key.dQ, "exponent2");
    ExpectPlaced(record.coefficient, RSA_MAX_PRIME_LEN, h, key.qInv, "coefficient");
}

TEST_P(RsaKeyDerFromOpenSsl, EveryTruncationIsRefused)
{
    const OpenSslRsaKey key(GetParam());
    const auto der = key.Der();
    RsaPrivateKey record;
    for (size_t length = 0; length < der.size(); length += (length < 16 ? 1 : 37)) {
        // A copy of exactly that length, so that ASan sees any read past it.
        std::vector<uint8_t> cut(der.begin(), der.begin() + long(length));
        EXPECT_EQ(DER_ERR_BAD_DATA, DerDecodeRSAKey(cut.data(), uint32_t(cut.size()), &record)) << length;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RsaKeyDerFromOpenSsl, ::testing::Values(1024u, 2048u));

TEST(RsaKeyDer, MalformedEncodingsAreRefused)
{
    const OpenSslRsaKey key(1024);
    const auto good = key.Der();
    ASSERT_EQ(0x82, good[1]); // 30 82 LL LL, then 02 01 00 (version), 02 81 81 00 (modulus)
    const struct {
        const char* label;
        size_t offset;
        uint8_t value;
    } cases[] = {
        {"second element not an INTEGER", 7, 0x04}, {"indefinite outer length", 1, 0x80},
        {"indefinite element length", 8, 0x80},     {"outer length past the input", 2, 0x7F},
        {"modulus length past the input", 8, 0x83},
    };
    for (const auto& c : cases) {
        auto der = good;
        der[c.offset] = c.value;
        RsaPrivateKey record;
        EXPECT_EQ(DER_ERR_BAD_DATA, DerDecodeRSAKey(der.data(), uint32_t(der.size()), &record)) << c.label;
    }
}

// A well-formed encoding whose modulus has 257 significant bytes, one more
// than its field holds.
TEST(RsaKeyDer, ContentLongerThanItsFieldIsRefused)
{
    const auto integer = [](std::vector<uint8_t> content) {
        std::vector<uint8_t> element = {0x02};
        if (content.size() >= 0x80) {
            element.push_back(0x82);
            element.push_back(uint8_t(content.size() >> 8));
        }
        element.push_back(uint8_t(content.size()));
        element.insert(element.end(), content.begin(), content.end());
        return element;
    };
    std::vector<uint8_t> body = integer({0});
    std::vector<uint8_t> modulus(258, 0x01);
    modulus[0] = 0x00;
    const auto big = integer(modulus);
    body.insert(body.end(), big.begin(), big.end());
    for (int i = 0; i < 7; ++i) {
        const auto small = integer({0x03});
        body.insert(body.end(), small.begin(), small.end());
    }
    std::vector<uint8_t> der = {0x30, 0x82, uint8_t(body.size() >> 8), uint8_t(body.size())};
    der.insert(der.end(), body.begin(), body.end());
    RsaPrivateKey record;
    EXPECT_EQ(DER_ERR_BAD_DATA, DerDecodeRSAKey(der.data(), uint32_t(der.size()), &record));
}

} // namespace

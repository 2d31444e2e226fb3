#include "ASN1Encoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct LengthCase {
    DWORD cbValue;
    std::vector<BYTE> header; // tag and length octets
};

class ASN1EncodeLength : public ::testing::TestWithParam<LengthCase> { };

TEST_P(ASN1EncodeLength, WritesMinimalDefiniteLength)
{
    const LengthCase &c = GetParam();
    std::vector<BYTE> value(c.cbValue, 0x5A);
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    ASSERT_EQ(S_OK, ASN1Encode(0x04, value.data(), c.cbValue, &pbEncoded, &cbEncoded));
    std::unique_ptr<BYTE[]> encoded(pbEncoded);
    ASSERT_EQ(c.header.size() + c.cbValue, cbEncoded);
    EXPECT_EQ(c.header, std::vector<BYTE>(pbEncoded, pbEncoded + c.header.size()));
    EXPECT_EQ(value, std::vector<BYTE>(pbEncoded + c.header.size(), pbEncoded + cbEncoded));
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ASN1EncodeLength,
                         ::testing::Values(LengthCase {1, {0x04, 0x01}}, LengthCase {127, {0x04, 0x7F}},
                                           LengthCase {128, {0x04, 0x81, 0x80}}, LengthCase {255, {0x04, 0x81, 0xFF}},
                                           LengthCase {256, {0x04, 0x82, 0x01, 0x00}},
                                           LengthCase {65536, {0x04, 0x83, 0x01, 0x00, 0x00}}));

TEST(ASN1Encode, RefusesTagsOutsideItsSet)
{
    const BYTE value[] = {0x00};
    for (DWORD dwTag : {0x01u, 0x03u, 0x05u, 0x17u, 0xA1u, 0xFFu}) {
        BYTE *pbEncoded = nullptr;
        DWORD cbEncoded = 0;
        EXPECT_EQ(E_FAIL, ASN1Encode(dwTag, value, 1, &pbEncoded, &cbEncoded)) << dwTag;
        EXPECT_EQ(nullptr, pbEncoded);
    }
}

TEST(ASN1Encode, ReadsOnlyTheTagsLowByte)
{
    const BYTE value[] = {0x01};
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    ASSERT_EQ(S_OK, ASN1Encode(0x1230, value, 1, &pbEncoded, &cbEncoded));
    std::unique_ptr<BYTE[]> encoded(pbEncoded);
    EXPECT_EQ(0x30, pbEncoded[0]);
}

TEST(ASN1Encode, RefusesAnEmptyValue)
{
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    EXPECT_EQ(E_FAIL, ASN1Encode(0x30, nullptr, 0, &pbEncoded, &cbEncoded));
    BYTE abLength[ASN1_MAX_LENGTH_OCTETS];
    DWORD cbLength = 0;
    EXPECT_EQ(E_FAIL, CalculateASNValueLength(0, abLength, &cbLength));
}

TEST(ASN1EncodeConcatenated, LaysPiecesEndToEndUnderOneTag)
{
    const BYTE a[] = {0x02, 0x01, 0x01};
    const BYTE b[] = {0x04, 0x02, 0xAA, 0xBB};
    const ASN1_PIECE pieces[] = {{a, sizeof(a)}, {b, sizeof(b)}};
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    ASSERT_EQ(S_OK, ASN1EncodeConcatenated(0x31, pieces, 2, &pbEncoded, &cbEncoded));
    std::unique_ptr<BYTE[]> encoded(pbEncoded);
    const std::vector<BYTE> expected = {0x31, 0x07, 0x02, 0x01, 0x01, 0x04, 0x02, 0xAA, 0xBB};
    EXPECT_EQ(expected, std::vector<BYTE>(pbEncoded, pbEncoded + cbEncoded));
}

} // namespace

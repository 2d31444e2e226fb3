#include "SM2RawSignature.h"

#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// OpenSSL's own SEQUENCE { INTEGER r, INTEGER s }: strict DER.
std::vector<BYTE> ReferenceEncoding(const std::vector<BYTE> &raw)
{
    ECDSA_SIG *pSig = ECDSA_SIG_new();
    ECDSA_SIG_set0(pSig, BN_bin2bn(raw.data(), 32, nullptr), BN_bin2bn(raw.data() + 32, 32, nullptr));
    unsigned char *pbDer = nullptr;
    int cbDer = i2d_ECDSA_SIG(pSig, &pbDer);
    std::vector<BYTE> der(pbDer, pbDer + cbDer);
    OPENSSL_free(pbDer);
    ECDSA_SIG_free(pSig);
    return der;
}

struct RawCase {
    const char *pszName;
    BYTE bRFirst;
    int nRLeadingZeros; // zero bytes at the start of r
    BYTE bSFirst;
};

class SM2EncodeRawSignatureDer : public ::testing::TestWithParam<RawCase> {
protected:
    std::vector<BYTE> Raw() const
    {
        const RawCase &c = GetParam();
        std::vector<BYTE> raw(64);
        for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<BYTE>(0x11 + i);
        for (int i = 0; i < c.nRLeadingZeros; ++i) raw[i] = 0;
        raw[c.nRLeadingZeros] = c.bRFirst;
        raw[32] = c.bSFirst;
        return raw;
    }

    // The encoder's output in the form asked for; empty when it failed.
    static std::vector<BYTE> Encoded(const std::vector<BYTE> &raw, DWORD dwForm)
    {
        BYTE *pbEncoded = nullptr;
        DWORD cbEncoded = 0;
        EXPECT_EQ(S_OK, SM2EncodeRawSignature(&cbEncoded, raw.data(), 64, &pbEncoded, dwForm));
        std::unique_ptr<BYTE[]> encoded(pbEncoded);
        return std::vector<BYTE>(pbEncoded, pbEncoded + cbEncoded);
    }
};

TEST_P(SM2EncodeRawSignatureDer, SequenceMatchesStrictDer)
{
    std::vector<BYTE> raw = Raw();
    EXPECT_EQ(ReferenceEncoding(raw), Encoded(raw, SM2_SIGNATURE_DER_SEQUENCE));
}

TEST_P(SM2EncodeRawSignatureDer, OctetStringWrapsTheSequence)
{
    std::vector<BYTE> raw = Raw();
    std::vector<BYTE> expected = ReferenceEncoding(raw);
    expected.insert(expected.begin(), {0x04, static_cast<BYTE>(expected.size())});
    EXPECT_EQ(expected, Encoded(raw, SM2_SIGNATURE_DER_OCTET_STRING));
}

INSTANTIATE_TEST_SUITE_P(
    LeadingBytes, SM2EncodeRawSignatureDer,
    ::testing::Values(RawCase {"HighBitsClear", 0x7F, 0, 0x01}, RawCase {"RHighBitSet", 0x80, 0, 0x7F},
                      RawCase {"BothHighBitsSet", 0xFF, 0, 0x80}, RawCase {"RLeadingZero", 0x7F, 1, 0x01},
                      RawCase {"RLeadingZeroThenHighBit", 0x80, 1, 0x01}, RawCase {"RThreeLeadingZeros", 0x01, 3, 0x90},
                      RawCase {"SLeadingZero", 0x12, 0, 0x00}),
    [](const auto &info) { return std::string(info.param.pszName); });

TEST(SM2EncodeRawSignature, RefusesOtherSizesAndTypes)
{
    std::vector<BYTE> raw(65, 0x01);
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), SM2EncodeRawSignature(&cbEncoded, raw.data(), 65, &pbEncoded, 2));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), SM2EncodeRawSignature(&cbEncoded, raw.data(), 63, &pbEncoded, 2));
    EXPECT_EQ(E_INVALIDARG, SM2EncodeRawSignature(&cbEncoded, raw.data(), 64, &pbEncoded, 3));
    EXPECT_EQ(nullptr, pbEncoded);
}

} // namespace

#include "CertificateFilter.h"

#include "ErrorCode.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

namespace {

class CertificateFilterTest : public TestCertificateSet {
protected:
    static HRESULT Subject(PCCERT_CONTEXT pCert, LPCWSTR pwszFilter)
    {
        StringVector vtr;
        ParseFilters(pwszFilter, vtr);
        return CheckCertSubjectName(pCert, CERT_X500_NAME_STR, vtr);
    }

    static FILETIME Shifted(FILETIME ft, LONGLONG llSeconds)
    {
        ULARGE_INTEGER u = {{ft.dwLowDateTime, ft.dwHighDateTime}};
        u.QuadPart += llSeconds * 10000000;
        return FILETIME {u.LowPart, u.HighPart};
    }
};

TEST(ParseFilters, SplitsOnHashKeepingEmptyPieces)
{
    const struct {
        const wchar_t *text;
        StringVector expected;
    } rows[] = {
        {L"bank#ALPHA", {L"bank", L"ALPHA"}}, {L"bank#", {L"bank", L""}}, {L"", {L""}},
        {L"a##b", {L"a", L"", L"b"}},         {L"#", {L"", L""}},
    };
    for (const auto &row : rows) {
        StringVector vtr {L"kept"};
        ParseFilters(row.text, vtr);
        StringVector expected {L"kept"};
        expected.insert(expected.end(), row.expected.begin(), row.expected.end());
        EXPECT_EQ(vtr, expected) << row.text;
    }
    StringVector vtr;
    ParseFilters(nullptr, vtr);
    EXPECT_TRUE(vtr.empty());
}

TEST(ParseFilters, CutsAlternativesTo255Characters)
{
    const std::wstring longPiece(300, L'x');
    StringVector vtr;
    ParseFilters((longPiece + L"#y").c_str(), vtr);
    ASSERT_EQ(vtr.size(), 2u);
    EXPECT_EQ(vtr[0], std::wstring(255, L'x'));
    EXPECT_EQ(vtr[1], L"y");
}

TEST_F(CertificateFilterTest, SubjectAlternativesMatchAnywhereIgnoringCase)
{
    EXPECT_EQ(Subject(m_sm2.get(), L"bank#ALPHA"), VESK_OK);    // "Alpha, Bank"
    EXPECT_EQ(Subject(m_rsaSign.get(), L"BANK#zeta"), VESK_OK); // "Beta Bank"
    EXPECT_EQ(Subject(m_rsaSign.get(), L"alpha#zeta"), E_FAIL);
    EXPECT_EQ(Subject(m_rsaSign.get(), L"zeta#"), VESK_OK); // empty last alternative
    EXPECT_EQ(Subject(m_rsaSign.get(), L""), VESK_OK);
    EXPECT_EQ(Subject(m_rsaSign.get(), nullptr), VESK_OK);
    EXPECT_EQ(Subject(m_rsaSign.get(), L"cn=bob signer"), VESK_OK);
    // Cut to 255 characters, the long alternative no longer holds the tail that fails.
    EXPECT_EQ(Subject(m_rsaSign.get(), (std::wstring(L"Bob") + std::wstring(300, L'!')).c_str()), E_FAIL);
}

TEST_F(CertificateFilterTest, IssuerAlternatives)
{
    StringVector vtr;
    ParseFilters(L"nobody#Alice", vtr);
    EXPECT_EQ(CheckCertIssuer(m_sm2.get(), vtr), VESK_OK);
    EXPECT_EQ(CheckCertIssuer(m_rsaSign.get(), vtr), E_FAIL);
    EXPECT_EQ(CheckCertIssuer(m_rsaSign.get(), StringVector()), VESK_OK);
}

TEST_F(CertificateFilterTest, KeyUsageNeedsOneRequiredBit)
{
    EXPECT_EQ(CheckCertKeyUsage(m_sm2.get(), 0x80), VESK_OK);
    EXPECT_EQ(CheckCertKeyUsage(m_sm2.get(), 0x20 | 0x40), VESK_OK);
    EXPECT_EQ(CheckCertKeyUsage(m_rsaKeyEnc.get(), 0x80), VESK_E_INVALID_CERT_USAGE);
    EXPECT_EQ(CheckCertKeyUsage(m_rsaNoExt.get(), 0x80), VESK_E_NO_KEY_USAGE);
    EXPECT_EQ(CheckCertKeyUsage(m_rsaEmptyUsage.get(), 0x80), VESK_E_INVALID_CERT_USAGE);
    EXPECT_EQ(CheckCertKeyUsage(m_rsaNoExt.get(), 0), VESK_OK);

    CERT_FILTER filter = {};
    filter.dwKeyUsage = 0x80;
    EXPECT_EQ(CheckUnregisteredCertficate(m_rsaKeyEnc.get(), &filter), E_FAIL);
    EXPECT_EQ(CheckUnregisteredCertficate(m_rsaNoExt.get(), &filter), E_FAIL);
}

TEST_F(CertificateFilterTest, SerialFilterCarriesEveryEncodedByte)
{
    EXPECT_EQ(CheckCertSerialNumber(L"0123ABCD", m_sm2.get()), VESK_OK);
    EXPECT_EQ(CheckCertSerialNumber(L"0123abcd", m_sm2.get()), VESK_OK);
    EXPECT_EQ(CheckCertSerialNumber(L"123ABCD0", m_sm2.get()), E_FAIL);
    EXPECT_EQ(CheckCertSerialNumber(L"008001", m_rsaSign.get()), VESK_OK);
    EXPECT_EQ(CheckCertSerialNumber(L"8001", m_rsaSign.get()), E_FAIL);
    EXPECT_EQ(CheckCertSerialNumber(L"80010", m_rsaSign.get()), E_INVALIDARG);
    EXPECT_EQ(CheckCertSerialNumber(L"", m_rsaSign.get()), VESK_OK);
    EXPECT_EQ(CheckCertSerialNumber(nullptr, m_rsaSign.get()), VESK_OK);

    CERT_FILTER filter = {};
    filter.pwszSerialNumber = L"80010";
    EXPECT_EQ(CheckUnregisteredCertficate(m_rsaSign.get(), &filter), E_FAIL);
}

TEST_F(CertificateFilterTest, SubjectKeyIdTextListsBytesInReverse)
{
    const std::vector<BYTE> ext = ExtensionValue(m_sm2.get(), szOID_SUBJECT_KEY_IDENTIFIER);
    ASSERT_EQ(ext.size(), 22u);
    std::wstring reversed, encodedOrder;
    wchar_t wsz[3];
    for (size_t i = 2; i < ext.size(); ++i) {
        swprintf(wsz, 3, L"%02x", ext[i]);
        encodedOrder += wsz;
        reversed.insert(0, wsz);
    }
    EXPECT_EQ(CheckCertSubjectKeyID(reversed.c_str(), m_sm2.get()), VESK_OK);
    EXPECT_EQ(CheckCertSubjectKeyID(encodedOrder.c_str(), m_sm2.get()), E_FAIL);
    EXPECT_EQ(CheckCertSubjectKeyID(reversed.c_str(), m_rsaNoExt.get()), VESK_E_NO_SUBJECT_KEY_ID);
    EXPECT_EQ(CheckCertSubjectKeyID(L"", m_rsaNoExt.get()), VESK_OK);
}

TEST_F(CertificateFilterTest, ValidityBoundsAreInclusive)
{
    const FILETIME ftNotBefore = m_sm2->pCertInfo->NotBefore;
    const FILETIME ftNotAfter = m_sm2->pCertInfo->NotAfter;
    const FILETIME ftAfterEnd = Shifted(ftNotAfter, 1);
    const FILETIME ftBeforeStart = Shifted(ftNotBefore, -1);
    EXPECT_EQ(CheckCertTimeValidity(&ftNotBefore, m_sm2.get()), VESK_OK);
    EXPECT_EQ(CheckCertTimeValidity(&ftNotAfter, m_sm2.get()), VESK_OK);
    EXPECT_EQ(CheckCertTimeValidity(&ftAfterEnd, m_sm2.get()), E_FAIL);
    EXPECT_EQ(CheckCertTimeValidity(&ftBeforeStart, m_sm2.get()), E_FAIL);
    EXPECT_EQ(CheckCertTimeValidity(nullptr, m_sm2.get()), VESK_OK);
}

TEST_F(CertificateFilterTest, SignatureAlgorithmPrefix)
{
    EXPECT_EQ(CheckCertSignatureAlg("1.2.156.10197", m_sm2.get()), VESK_OK);
    EXPECT_EQ(CheckCertSignatureAlg("1.2.156.10197", m_rsaSign.get()), E_FAIL);
    EXPECT_EQ(CheckCertSignatureAlg("1.2.840.113549.1.1.11", m_rsaSign.get()), VESK_OK);
    EXPECT_EQ(CheckCertSignatureAlg("", m_rsaSign.get()), VESK_OK);
    EXPECT_EQ(CheckCertSignatureAlg(nullptr, m_rsaSign.get()), VESK_OK);
}

TEST_F(CertificateFilterTest, WholeFilterAsTheAgentBuildsIt)
{
    SYSTEMTIME stNow;
    FILETIME ftNow;
    GetSystemTime(&stNow);
    SystemTimeToFileTime(&stNow, &ftNow);
    CERT_FILTER filter = {};
    filter.pwszSubjectFilters = L"alice";
    filter.pwszIssuerFilters = L"";
    filter.pwszSerialNumber = L"0123abcd";
    filter.dwKeyUsage = 0x80;
    filter.bKeyRequired = TRUE;
    filter.pszSignatureAlgPrefix = "1.2.156.10197";
    filter.pCheckTime = &ftNow;
    EXPECT_EQ(CheckUnregisteredCertficate(m_sm2.get(), &filter), VESK_OK);
    EXPECT_EQ(CheckUnregisteredCertficate(m_rsaSign.get(), &filter), E_FAIL);

    filter.pwszSubjectFilters = L"bob";
    filter.pwszSerialNumber = nullptr;
    EXPECT_EQ(CheckUnregisteredCertficate(m_sm2.get(), &filter), E_FAIL);
    filter.pszSignatureAlgPrefix = nullptr;
    EXPECT_EQ(CheckUnregisteredCertficate(m_rsaSign.get(), &filter), VESK_OK);

    EXPECT_EQ(CheckUnregisteredCertficate(m_rsaNoExt.get(), nullptr), VESK_OK);
}

} // namespace

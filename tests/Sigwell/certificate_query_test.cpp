#include "CertificateQuery.h"

#include "ErrorCode.h"
#include "TestCertificates.h"
#include "WineQuirks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CertificateQuery : public TestCertificateSet {
protected:
    static std::wstring QueryText(PCCERT_CONTEXT pCert, DWORD dwType, DWORD *pcch = nullptr)
    {
        LPWSTR pwsz = nullptr;
        DWORD cch = 0;
        EXPECT_EQ(QueryCertContextInfo(&cch, &pwsz, pCert, dwType), VESK_OK) << dwType;
        std::wstring text = pwsz ? pwsz : L"";
        delete[] pwsz;
        if (pcch) *pcch = cch;
        return text;
    }

    static std::vector<BYTE> QueryBytes(PCCERT_CONTEXT pCert, DWORD dwType)
    {
        BYTE *pb = nullptr;
        DWORD cb = 0;
        EXPECT_EQ(QueryCertContextInfo(&cb, &pb, pCert, dwType), VESK_OK) << dwType;
        std::vector<BYTE> bytes(pb, pb + cb);
        delete[] pb;
        return bytes;
    }
};

TEST_F(CertificateQuery, TypesOutsideOneToElevenWriteNothing)
{
    for (DWORD dwType : {0u, 12u, 0xFFFFFFFFu}) {
        DWORD cb = 0x55;
        void *pvSentinel = reinterpret_cast<void *>(0x1234);
        EXPECT_EQ(QueryCertContextInfo(&cb, &pvSentinel, m_sm2.get(), dwType), VESK_E_QUERY_TYPE);
        EXPECT_EQ(cb, 0x55u);
        EXPECT_EQ(pvSentinel, reinterpret_cast<void *>(0x1234));
    }
}

TEST_F(CertificateQuery, SubjectAndIssuerListCommonNameFirst)
{
    DWORD cch = 0;
    const std::wstring subject = QueryText(m_sm2.get(), CERTINFO_SUBJECT, &cch);
    EXPECT_EQ(cch, subject.size() + 1);
    EXPECT_EQ(subject.rfind(L"CN=Alice Signer, O=", 0), 0u) << subject;
    EXPECT_EQ(subject.substr(subject.size() - 6), L", C=CN");
    if (NameQuotedDespiteNoQuotingFlag())
        EXPECT_NE(subject.find(L"O=\"Alpha, Bank\""), std::wstring::npos) << subject;
    else
        EXPECT_EQ(subject, L"CN=Alice Signer, O=Alpha, Bank, C=CN");

    EXPECT_EQ(QueryText(m_sm2.get(), CERTINFO_ISSUER), subject);

    const std::wstring values = QueryText(m_sm2.get(), CERTINFO_SUBJECT_VALUES, &cch);
    EXPECT_EQ(cch, values.size() + 1);
    EXPECT_EQ(values.rfind(L"Alice Signer, ", 0), 0u) << values;
    EXPECT_EQ(values.find(L"CN="), std::wstring::npos);
    EXPECT_EQ(values.substr(values.size() - 4), L", CN");
}

TEST_F(CertificateQuery, CommonNameCountsItsTerminator)
{
    DWORD cch = 0;
    EXPECT_EQ(QueryText(m_rsaSign.get(), CERTINFO_COMMON_NAME, &cch), L"Bob Signer");
    EXPECT_EQ(cch, 11u);
    LPWSTR pwsz = nullptr;
    ASSERT_EQ(GetCertCN(m_sm2.get(), &pwsz, nullptr), VESK_OK);
    EXPECT_STREQ(pwsz, L"Alice Signer");
    delete[] pwsz;
}

TEST_F(CertificateQuery, SerialNumberRoundTripsThroughHexText)
{
    const std::vector<BYTE> serial = QueryBytes(m_sm2.get(), CERTINFO_SERIAL_NUMBER);
    EXPECT_EQ(serial, (std::vector<BYTE> {0xCD, 0xAB, 0x23, 0x01}));

    LPWSTR pwszText = nullptr;
    ASSERT_EQ(ConvertBinaryDataToString(&pwszText, 4, serial.data(), TRUE), VESK_OK);
    EXPECT_STREQ(pwszText, L"0123abcd");
    delete[] pwszText;
    ASSERT_EQ(ConvertBinaryDataToString(&pwszText, 4, serial.data(), FALSE), VESK_OK);
    EXPECT_STREQ(pwszText, L"cdab2301");
    delete[] pwszText;

    for (const wchar_t *pwszSerial : {L"0123ABCD", L"0123abcd"}) {
        BYTE *pb = nullptr;
        DWORD cb = 0;
        ASSERT_EQ(ConvertStringToBinaryData(&cb, pwszSerial, &pb), VESK_OK);
        EXPECT_EQ(std::vector<BYTE>(pb, pb + cb), serial);
        delete[] pb;
    }
    // A serial with its top bit set keeps the leading zero byte the encoding adds.
    EXPECT_EQ(QueryBytes(m_rsaSign.get(), CERTINFO_SERIAL_NUMBER), (std::vector<BYTE> {0x01, 0x80, 0x00}));
}

TEST_F(CertificateQuery, MalformedHexTextIsRefused)
{
    for (const wchar_t *pwszText : {L"ABC", L"0G", L"12 4", L"", L"+1"}) {
        BYTE *pb = nullptr;
        DWORD cb = 0;
        EXPECT_EQ(ConvertStringToBinaryData(&cb, pwszText, &pb), E_INVALIDARG) << pwszText;
        EXPECT_EQ(pb, nullptr);
    }
    BYTE *pb = nullptr;
    DWORD cb = 0;
    EXPECT_EQ(ConvertStringToBinaryData(&cb, nullptr, &pb), E_INVALIDARG);
}

// The filter text comes from a web page and may be of any length.
TEST_F(CertificateQuery, LongHexTextConvertsWhole)
{
    std::wstring text(200000, L'a');
    text[0] = L'1';
    BYTE *pb = nullptr;
    DWORD cb = 0;
    ASSERT_EQ(ConvertStringToBinaryData(&cb, text.c_str(), &pb), VESK_OK);
    EXPECT_EQ(cb, 100000u);
    EXPECT_EQ(pb[cb - 1], 0x1A);
    EXPECT_EQ(pb[0], 0xAA);
    delete[] pb;
}

TEST_F(CertificateQuery, DatesAreUtcSystemTimes)
{
    SYSTEMTIME stExpected = {};
    SYSTEMTIME stTime = {};
    DWORD cb = 0;
    ASSERT_EQ(QueryCertContextInfo(&cb, &stTime, m_sm2.get(), CERTINFO_NOT_AFTER), VESK_OK);
    EXPECT_EQ(cb, 16u);
    FileTimeToSystemTime(&m_sm2->pCertInfo->NotAfter, &stExpected);
    EXPECT_EQ(memcmp(&stTime, &stExpected, sizeof stTime), 0);
    ASSERT_EQ(QueryCertContextInfo(&cb, &stTime, m_sm2.get(), CERTINFO_NOT_BEFORE), VESK_OK);
    FileTimeToSystemTime(&m_sm2->pCertInfo->NotBefore, &stExpected);
    EXPECT_EQ(memcmp(&stTime, &stExpected, sizeof stTime), 0);
}

TEST_F(CertificateQuery, SubjectKeyIdInEncodedOrder)
{
    const std::vector<BYTE> ext = ExtensionValue(m_sm2.get(), szOID_SUBJECT_KEY_IDENTIFIER);
    ASSERT_EQ(ext.size(), 22u); // 04 14 and twenty bytes
    EXPECT_EQ(QueryBytes(m_sm2.get(), CERTINFO_SUBJECT_KEY_ID), std::vector<BYTE>(ext.begin() + 2, ext.end()));
    DWORD cb = 0;
    EXPECT_EQ(GetCertSubjectKeyID(m_sm2.get(), nullptr, &cb), VESK_OK);

    BYTE *pb = nullptr;
    EXPECT_EQ(QueryCertContextInfo(&cb, &pb, m_rsaNoExt.get(), CERTINFO_SUBJECT_KEY_ID), VESK_E_NO_SUBJECT_KEY_ID);
    EXPECT_EQ(pb, nullptr);
}

TEST_F(CertificateQuery, KeyUsageFirstByte)
{
    const struct {
        const char *name;
        PCCERT_CONTEXT pCert;
        HRESULT hrExpected;
        DWORD dwUsage;
    } rows[] = {
        {"digitalSignature+nonRepudiation", m_sm2.get(), VESK_OK, 0xC0},
        {"keyEncipherment", m_rsaKeyEnc.get(), VESK_OK, 0x20},
        {"no extension", m_rsaNoExt.get(), VESK_E_NO_KEY_USAGE, 0xFFFF},
        // 03 01 00: no bits at all, never the byte past the value.
        {"empty bit string", m_rsaEmptyUsage.get(), VESK_OK, 0},
    };
    for (const auto &row : rows) {
        DWORD dwUsage = 0xFFFF;
        DWORD cb = 0;
        EXPECT_EQ(QueryCertContextInfo(&cb, &dwUsage, row.pCert, CERTINFO_KEY_USAGE), row.hrExpected) << row.name;
        EXPECT_EQ(dwUsage, row.dwUsage) << row.name;
        if (row.hrExpected == VESK_OK) {
            EXPECT_EQ(cb, 4u) << row.name;
        }
    }
}

// A context made from bytes has no key-provider property, and nothing has
// registered its key: its private key cannot be acquired.
TEST_F(CertificateQuery, ProviderAndContainerNeedTheKeyProperty)
{
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bFree = FALSE;
    ASSERT_FALSE(CryptAcquireCertificatePrivateKey(m_sm2.get(), 0, nullptr, &hProv, &dwKeySpec, &bFree));
    const HRESULT hrExpected = Win32StatusFromLastError(GetLastError());
    for (DWORD dwType : {CERTINFO_PROVIDER_NAME, CERTINFO_CONTAINER_NAME}) {
        LPWSTR pwsz = nullptr;
        DWORD cch = 0;
        HRESULT hResult = QueryCertContextInfo(&cch, &pwsz, m_sm2.get(), dwType);
        EXPECT_EQ(hResult, hrExpected);
        EXPECT_LT(hResult, 0);
        EXPECT_EQ(pwsz, nullptr);
    }
}

TEST_F(CertificateQuery, StoreCertificatesAppendAfterExistingOnes)
{
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    ASSERT_NE(hStore, nullptr);
    for (PCCERT_CONTEXT pCert : {m_sm2.get(), m_rsaSign.get(), m_rsaKeyEnc.get()})
        ASSERT_TRUE(CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_ALWAYS, nullptr));

    CertificateVector vtrEnumerated {CertDuplicateCertificateContext(m_rsaNoExt.get())};
    for (PCCERT_CONTEXT p = nullptr; (p = CertEnumCertificatesInStore(hStore, p)) != nullptr;)
        vtrEnumerated.push_back(CertDuplicateCertificateContext(p));

    CertificateVector vtrCerts {CertDuplicateCertificateContext(m_rsaNoExt.get())};
    ASSERT_EQ(ExtractCertificatesFromStore(hStore, vtrCerts), VESK_OK);
    ASSERT_EQ(vtrCerts.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, vtrCerts[i]->pCertInfo, vtrEnumerated[i]->pCertInfo))
            << i;
    RemoveAllCertificates(vtrEnumerated);
    RemoveAllCertificates(vtrCerts);
    EXPECT_TRUE(vtrCerts.empty());
    CertCloseStore(hStore, 0);

    vtrCerts.push_back(CertDuplicateCertificateContext(m_sm2.get()));
    EXPECT_EQ(ExtractCertificatesFromStore(nullptr, vtrCerts), E_INVALIDARG);
    EXPECT_TRUE(vtrCerts.empty());
}

} // namespace

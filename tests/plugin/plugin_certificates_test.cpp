// The installer's certificate functions: the lenient Base64 decoder, the
// whole filter with its provider and private-key tests, and the reading
// of a serialized store element.
#include "BrowserBoundary.h"
#include "CertificateChainImport.h"
#include "PluginCertificates.h"
#include "TestCA.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

using namespace testca;

namespace {

std::vector<BYTE> Decode(const std::string &text)
{
    BYTE *pbData = nullptr;
    DWORD cbData = 0;
    HRESULT hResult = Base64DecodeEx(text.data(), static_cast<int>(text.size()), &pbData, &cbData);
    std::unique_ptr<BYTE[]> data(pbData);
    if (FAILED(hResult)) return {0xEE};
    return std::vector<BYTE>(pbData, pbData + cbData);
}

TEST(Base64DecodeEx, LenientGroups)
{
    EXPECT_EQ((std::vector<BYTE> {0x41, 0x42, 0x43}), Decode("QUJD"));
    EXPECT_EQ((std::vector<BYTE> {0x41, 0x42}), Decode("QUI="));
    EXPECT_EQ((std::vector<BYTE> {0x41}), Decode("QQ"));
    EXPECT_EQ((std::vector<BYTE> {0x41, 0x42, 0x43}), Decode("QU\r\nJD"));
    EXPECT_EQ((std::vector<BYTE> {}), Decode("Q"));
    // Pads are skipped like line breaks: the text after them joins the group.
    EXPECT_EQ((std::vector<BYTE> {0x41, 0x04, 0x14, 0x24}), Decode("QQ==QUJD"));
    EXPECT_EQ((std::vector<BYTE> {0x41, 0x42, 0x43}), Decode(std::string("QUJD\0QUJD", 9)));
    EXPECT_EQ((std::vector<BYTE> {0x41, 0x42, 0x43}),
              Decode("Q U\xff"
                     "J D"));
}

TEST(Base64DecodeEx, EmptyTextFails)
{
    BYTE *pbData = nullptr;
    DWORD cbData = 7;
    EXPECT_EQ(E_FAIL, Base64DecodeEx("", 0, &pbData, &cbData));
    EXPECT_EQ(nullptr, pbData);
    EXPECT_EQ(E_FAIL, Base64DecodeEx("QUJD", -4, &pbData, &cbData));
    EXPECT_EQ(nullptr, pbData);
}

class Filter : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_ca = ContextOf(
            MakeCertificate("CN=Filter CA, O=Sigwell Test, C=CN", "CN=Filter Root, O=Sigwell Test, C=CN", "0A11"));
        m_user = ContextOf(
            MakeCertificate("CN=Filter User, O=Sigwell Test, C=CN", "CN=Filter CA, O=Sigwell Test, C=CN", "0B22"));
        m_candidates = {m_ca.get(), m_user.get()};
    }

    static void SetProvider(PCCERT_CONTEXT pCert, const wchar_t *pwszProvider)
    {
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = const_cast<LPWSTR>(L"container");
        info.pwszProvName = const_cast<LPWSTR>(pwszProvider);
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = AT_SIGNATURE;
        ASSERT_TRUE(CertSetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    }

    // The filter lets through the expected candidate and no other.
    void ExpectOnly(const CERT_FILTER &filter, PCCERT_CONTEXT pExpected)
    {
        CertificateVector result;
        ASSERT_EQ(S_OK, FilterCertificates(&filter, result, m_candidates));
        ASSERT_EQ(1u, result.size());
        EXPECT_EQ(pExpected->cbCertEncoded, result[0]->cbCertEncoded);
        RemoveAllCertificates(result);
    }

    CertPtr m_ca, m_user;
    CertificateVector m_candidates;
};

TEST_F(Filter, NullFilterPassesDuplicatesOfAllInOrder)
{
    CertificateVector result;
    ASSERT_EQ(S_OK, FilterCertificates(nullptr, result, m_candidates));
    ASSERT_EQ(2u, result.size());
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, m_ca->pCertInfo, result[0]->pCertInfo));
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, m_user->pCertInfo, result[1]->pCertInfo));
    RemoveAllCertificates(result);
}

TEST_F(Filter, SerialSubjectAndIssuerTogether)
{
    CERT_FILTER filter = {};
    filter.pwszSerialNumber = L"0a11";
    filter.pwszSubjectFilters = L"CN=Filter CA, O=Sigwell Test, C=CN";
    filter.pwszIssuerFilters = L"CN=Filter Root";
    ExpectOnly(filter, m_ca.get());

    filter.pwszIssuerFilters = L"CN=Other Root";
    CertificateVector result;
    ASSERT_EQ(S_OK, FilterCertificates(&filter, result, m_candidates));
    EXPECT_TRUE(result.empty());
}

TEST_F(Filter, KeyRequiredDropsCertificatesWithoutPrivateKey)
{
    CERT_FILTER filter = {};
    filter.bKeyRequired = TRUE;
    CertificateVector result;
    ASSERT_EQ(S_OK, FilterCertificates(&filter, result, m_candidates));
    EXPECT_TRUE(result.empty());
    filter.bKeyRequired = FALSE;
    ASSERT_EQ(S_OK, FilterCertificates(&filter, result, m_candidates));
    EXPECT_EQ(2u, result.size());
    RemoveAllCertificates(result);
}

TEST_F(Filter, AnyProviderOfTheListMatchesInAnyCase)
{
    SetProvider(m_user.get(), L"VESK Lorvin Token CSP v2");
    CERT_FILTER filter = {};
    filter.pwszCSPFilters = L"Other Provider||lorvin token";
    ExpectOnly(filter, m_user.get());

    EXPECT_EQ(CRYPT_E_NOT_FOUND, CheckCSPName(m_ca.get(), {L"Lorvin"}));
    EXPECT_EQ(S_OK, CheckCSPName(m_ca.get(), {}));
    EXPECT_EQ(E_FAIL, CheckCSPName(m_user.get(), {L"Microsoft"}));
}

std::wstring Base64Wide(const std::vector<BYTE> &data)
{
    std::string text = Base64Lines(data);
    return std::wstring(text.begin(), text.end());
}

HRESULT CertificateOf(const std::vector<BYTE> &element, std::vector<BYTE> &certificate)
{
    BYTE *pbCert = nullptr;
    DWORD cbCert = 0;
    HRESULT hResult = GetCertFromCertificateBlobProperties(Base64Wide(element).c_str(), &pbCert, &cbCert);
    std::unique_ptr<BYTE[]> cert(pbCert);
    certificate.assign(pbCert, pbCert + cbCert);
    return hResult;
}

TEST(StoreElement, CertificateIsFoundWhereverItIs)
{
    const std::vector<BYTE> der = MakeCertificate("CN=Element", "CN=Element", "01");
    std::vector<BYTE> certificate;
    ASSERT_EQ(S_OK,
              CertificateOf(StoreElement({{92, {0, 8, 0, 0}}, {3, std::vector<BYTE>(20, 3)}, {32, der}}), certificate));
    EXPECT_EQ(der, certificate);
    ASSERT_EQ(S_OK,
              CertificateOf(StoreElement({{4, std::vector<BYTE>(16, 4)}, {32, der}, {20, std::vector<BYTE>(20, 2)}}),
                            certificate));
    EXPECT_EQ(der, certificate);
    // The id is read from the low 24 bits.
    ASSERT_EQ(S_OK, CertificateOf(StoreElement({{0x7F000020, der}}), certificate));
    EXPECT_EQ(der, certificate);
}

TEST(StoreElement, MissingOrCutCertificateFails)
{
    const std::vector<BYTE> der = MakeCertificate("CN=Element", "CN=Element", "01");
    std::vector<BYTE> certificate;
    EXPECT_EQ(E_FAIL, CertificateOf(StoreElement({{3, std::vector<BYTE>(20, 3)}, {4, der}}), certificate));
    std::vector<BYTE> cut = StoreElement({{32, der}});
    cut.resize(cut.size() - 1);
    EXPECT_EQ(E_FAIL, CertificateOf(cut, certificate));
    // A record header reaching past the end.
    std::vector<BYTE> header = StoreElement({{3, {1, 2, 3, 4}}});
    header.insert(header.end(), {32, 0, 0, 0, 1, 0});
    EXPECT_EQ(E_FAIL, CertificateOf(header, certificate));
    // A length beyond the element, even when the id is right.
    std::vector<BYTE> longer = StoreElement({{32, {0x30}}});
    longer[8] = 0xFF;
    EXPECT_EQ(E_FAIL, CertificateOf(longer, certificate));
    BYTE *pbCert = nullptr;
    DWORD cbCert = 0;
    EXPECT_EQ(E_FAIL, GetCertFromCertificateBlobProperties(L"", &pbCert, &cbCert));
    EXPECT_EQ(nullptr, pbCert);
}

// Nothing thrown inside reaches the browser: the call answers its failure.
TEST(BrowserBoundary, ThrownExceptionBecomesTheFailure)
{
    EXPECT_EQ(7, BrowserBoundary(7, []() -> int { throw std::bad_alloc(); }));
    EXPECT_EQ(3, BrowserBoundary(7, [] { return 3; }));
    bool bRan = false;
    BrowserBoundary([&] {
        bRan = true;
        throw std::runtime_error("lost");
    });
    EXPECT_TRUE(bRan);
}

} // namespace

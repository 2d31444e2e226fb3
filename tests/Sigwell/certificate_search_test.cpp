#include "CertificateChainOperate.h"

#include "ErrorCode.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const wchar_t kProviderA[] = L"Sigwell Search CSP A";
const wchar_t kProviderB[] = L"Sigwell Search CSP B";
const wchar_t kProviderMs[] = L"Sigwell Microsoft Search CSP";
const char kProviderAName[] = "Sigwell Search CSP A";
const char kProviderBName[] = "Sigwell Search CSP B";
const char kProviderMsName[] = "Sigwell Microsoft Search CSP";

struct Found {
    std::wstring provider;
    std::wstring container;
    DWORD dwKeySpec;
    std::wstring commonName;

    bool operator==(const Found &o) const
    {
        return provider == o.provider && container == o.container && dwKeySpec == o.dwKeySpec &&
            commonName == o.commonName;
    }
};

std::ostream &operator<<(std::ostream &os, const Found &f)
{
    return os << std::string(f.provider.begin(), f.provider.end()) << "/"
              << std::string(f.container.begin(), f.container.end()) << "/" << f.dwKeySpec;
}

std::wstring CommonName(PCCERT_CONTEXT pCert)
{
    wchar_t wsz[128] = {};
    CertGetNameStringW(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, wsz, 128);
    return wsz;
}

class CertificateSearch : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_providers.emplace_back(new testcsp::RegisteredProvider(kProviderA));
        s_providers.emplace_back(new testcsp::RegisteredProvider(kProviderB));
        s_providers.emplace_back(new testcsp::RegisteredProvider(kProviderMs));
    }
    static void TearDownTestSuite() { s_providers.clear(); }

    void SetUp() override
    {
        for (const auto &provider : s_providers) ASSERT_TRUE(provider->IsRegistered());
    }
    void TearDown() override { RemoveAllUnregisteredCertificates(m_records); }

    std::vector<Found> Search(LPCWSTR pwszList, const CERT_FILTER *pFilter = nullptr)
    {
        RemoveAllUnregisteredCertificates(m_records);
        EXPECT_EQ(FilterUnregisteredCertificatesfromCSP(pwszList, pFilter, m_records), VESK_OK);
        std::vector<Found> found;
        for (PUNREGISTERED_CERT_CONTEXT p : m_records)
            found.push_back({p->wszProviderName, p->wszContainerName, p->dwKeySpec, CommonName(p->pCertContext)});
        return found;
    }

    // A: two containers; B: one with the SM2 certificate under both keys.
    void WriteTwoTokens()
    {
        m_config.Clear();
        m_config.AddKey(kProviderAName, "a1", AT_SIGNATURE, "testcerts\\rsa_sign.der", "");
        m_config.AddKey(kProviderAName, "a2-longer-name", AT_KEYEXCHANGE, "testcerts\\rsa_keyenc.der", "");
        m_config.AddKey(kProviderBName, "b1", AT_KEYEXCHANGE, "testcerts\\sm2.der", "");
        m_config.AddKey(kProviderBName, "b1", AT_SIGNATURE, "testcerts\\sm2.der", "");
        m_config.AddKey(kProviderMsName, "ms1", AT_SIGNATURE, "testcerts\\rsa_sign.der", "");
        ASSERT_TRUE(m_config.Write());
    }

    static std::vector<std::unique_ptr<testcsp::RegisteredProvider>> s_providers;
    testcsp::ProviderConfigFile m_config {"certificate_search.cfg"};
    UnregisteredCertVector m_records;
};

std::vector<std::unique_ptr<testcsp::RegisteredProvider>> CertificateSearch::s_providers;

const Found kA1 {kProviderA, L"a1", AT_SIGNATURE, L"Bob Signer"};
const Found kA2 {kProviderA, L"a2-longer-name", AT_KEYEXCHANGE, L"Carol Exchange"};
const Found kB1x {kProviderB, L"b1", AT_KEYEXCHANGE, L"Alice Signer"};
const Found kB1s {kProviderB, L"b1", AT_SIGNATURE, L"Alice Signer"};

TEST(SplitStrings, PiecesUntilTheFirstEmptyOne)
{
    const struct {
        const wchar_t *list;
        StringVector expected;
    } rows[] = {
        {L"A||B", {L"A", L"B"}}, {L"A||B||", {L"A", L"B"}},   {L"||A", {}}, {L"A||||B", {L"A"}}, {L"", {}},
        {L"A|B", {L"A|B"}},      {L" A ||B", {L" A ", L"B"}},
    };
    for (const auto &row : rows) {
        StringVector vtr;
        SplitStrings(row.list, vtr);
        EXPECT_EQ(vtr, row.expected) << row.list;
    }
    StringVector vtr {L"kept"};
    SplitStrings(nullptr, vtr);
    EXPECT_EQ(vtr, StringVector {L"kept"});
}

TEST_F(CertificateSearch, AllProviderNamesJoined)
{
    LPWSTR pwszAll = nullptr;
    ASSERT_EQ(GetAllCSPName(&pwszAll), VESK_OK);
    StringVector vtr;
    SplitStrings(pwszAll, vtr);
    delete[] pwszAll;
    for (const wchar_t *pwszName : {kProviderA, kProviderB, kProviderMs})
        EXPECT_NE(std::find(vtr.begin(), vtr.end(), pwszName), vtr.end()) << pwszName;
}

TEST_F(CertificateSearch, ListedProvidersSearchedInOrder)
{
    WriteTwoTokens();
    const std::vector<Found> expected {kA1, kA2, kB1x, kB1s};
    EXPECT_EQ(Search(L"Sigwell Search CSP A||Sigwell Search CSP B"), expected);
    EXPECT_EQ(Search(L"Sigwell Search CSP A||Sigwell Search CSP B||"), expected);
    EXPECT_EQ(Search(L"Sigwell Search CSP B||Sigwell Search CSP A"), (std::vector<Found> {kB1x, kB1s, kA1, kA2}));
    EXPECT_TRUE(Search(L"||Sigwell Search CSP A").empty());
    EXPECT_TRUE(Search(L"").empty());
    // A provider that cannot be opened contributes nothing; the next is searched.
    EXPECT_EQ(Search(L"Sigwell No Such CSP||Sigwell Search CSP B"), (std::vector<Found> {kB1x, kB1s}));
}

TEST_F(CertificateSearch, MicrosoftProvidersAreSkipped)
{
    WriteTwoTokens();
    EXPECT_TRUE(Search(L"Sigwell Microsoft Search CSP").empty());
    EXPECT_EQ(Search(L"Sigwell Microsoft Search CSP||Sigwell Search CSP B"), (std::vector<Found> {kB1x, kB1s}));
    // A null list searches every installed provider but the Microsoft ones
    // (the platform's own, and ours named with it).
    std::vector<Found> all = Search(nullptr);
    std::vector<Found> ours;
    for (const Found &f : all) {
        EXPECT_EQ(f.provider.find(L"Microsoft"), std::wstring::npos);
        if (f.provider == kProviderA || f.provider == kProviderB) ours.push_back(f);
    }
    EXPECT_EQ(ours, (std::vector<Found> {kA1, kA2, kB1x, kB1s}));
}

TEST_F(CertificateSearch, FilterKeepsOnlyPassingCertificates)
{
    WriteTwoTokens();
    CERT_FILTER filter = {};
    filter.dwKeyUsage = 0x80;
    filter.pszSignatureAlgPrefix = "1.2.156.10197";
    EXPECT_EQ(Search(L"Sigwell Search CSP A||Sigwell Search CSP B", &filter), (std::vector<Found> {kB1x, kB1s}));
    filter.pszSignatureAlgPrefix = nullptr;
    filter.pwszSubjectFilters = L"bob#nobody";
    EXPECT_EQ(Search(L"Sigwell Search CSP A||Sigwell Search CSP B", &filter), (std::vector<Found> {kA1}));
}

TEST_F(CertificateSearch, KeysWithoutCertificatesGiveNothing)
{
    m_config.Clear();
    m_config.AddContainer(kProviderAName, "empty");
    m_config.AddKey(kProviderAName, "sig-only", AT_SIGNATURE, "testcerts\\rsa_sign.der", "");
    m_config.AddKey(kProviderAName, "sig-only", AT_KEYEXCHANGE, "", "");
    m_config.AddKey(kProviderAName, "zero-length", AT_SIGNATURE, "", "", "emptycert");
    m_config.AddKey(kProviderAName, "silent", AT_SIGNATURE, "", "", "silent");
    m_config.AddKey(kProviderAName, "x", AT_KEYEXCHANGE, "testcerts\\rsa_keyenc.der", "");
    ASSERT_TRUE(m_config.Write());
    EXPECT_EQ(Search(kProviderA),
              (std::vector<Found> {{kProviderA, L"sig-only", AT_SIGNATURE, L"Bob Signer"},
                                   {kProviderA, L"x", AT_KEYEXCHANGE, L"Carol Exchange"}}));
}

// Failures that leave no last error still fail, and never hand out a record.
TEST_F(CertificateSearch, ContainerFailuresComeBackAsFailures)
{
    m_config.Clear();
    m_config.AddContainer(kProviderAName, "nokey");
    m_config.AddKey(kProviderAName, "zero-length", AT_SIGNATURE, "", "", "emptycert");
    m_config.AddKey(kProviderAName, "silent", AT_SIGNATURE, "", "", "silent");
    m_config.AddKey(kProviderAName, "nocert", AT_SIGNATURE, "", "");
    ASSERT_TRUE(m_config.Write());
    const struct {
        const wchar_t *container;
        HRESULT hrExpected;
    } rows[] = {
        {L"nokey", NTE_NO_KEY},       {L"zero-length", E_FAIL},
        {L"silent", E_FAIL},          {L"nocert", SCARD_E_NO_SUCH_CERTIFICATE},
        {L"missing", NTE_BAD_KEYSET},
    };
    for (const auto &row : rows) {
        PUNREGISTERED_CERT_CONTEXT pRecord = nullptr;
        EXPECT_EQ(GetUnregisteredCertfromContainer(kProviderA, row.container, AT_SIGNATURE, &pRecord), row.hrExpected)
            << std::string(row.container, row.container + wcslen(row.container));
        EXPECT_EQ(pRecord, nullptr);
    }
    PUNREGISTERED_CERT_CONTEXT pRecord = nullptr;
    EXPECT_EQ(GetUnregisteredCertfromContainer(kProviderA, L"", AT_SIGNATURE, &pRecord), E_INVALIDARG);
    EXPECT_EQ(GetUnregisteredCertfromContainer(nullptr, L"x", AT_SIGNATURE, &pRecord), E_INVALIDARG);
    EXPECT_EQ(FilterUnregisteredCertificatesfromSpecifiedCSP(L"", nullptr, m_records), E_INVALIDARG);
}

TEST_F(CertificateSearch, ProviderWithoutContainersFindsNothing)
{
    m_config.Clear();
    ASSERT_TRUE(m_config.Write());
    EXPECT_EQ(FilterUnregisteredCertificatesfromSpecifiedCSP(kProviderA, nullptr, m_records), VESK_OK);
    EXPECT_TRUE(m_records.empty());
}

// The enumeration offers the whole buffer every time, whatever the order of
// the name lengths.
TEST_F(CertificateSearch, ContainerNamesOfAnyLengthOrder)
{
    const std::vector<std::string> names {"s", std::string(200, 'L'), "m-name", "t", std::string(120, 'k')};
    m_config.Clear();
    for (const std::string &name : names)
        m_config.AddKey(kProviderAName, name, AT_SIGNATURE, "testcerts\\rsa_sign.der", "");
    ASSERT_TRUE(m_config.Write());
    std::vector<Found> found = Search(kProviderA);
    ASSERT_EQ(found.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(found[i].container, std::wstring(names[i].begin(), names[i].end()));
}

TEST(UnregisteredCertContext, CreateChecksArgumentsInOrder)
{
    CertPtr cert = LoadTestCertificate("rsa_sign.der");
    ASSERT_TRUE(cert);
    PUNREGISTERED_CERT_CONTEXT pRecord = nullptr;
    EXPECT_EQ(CertCreateUnregisteredCertContext(L"c", L"p", nullptr, 2, &pRecord), E_INVALIDARG);
    EXPECT_EQ(CertCreateUnregisteredCertContext(L"c", L"", cert.get(), 2, &pRecord), E_INVALIDARG);
    EXPECT_EQ(CertCreateUnregisteredCertContext(nullptr, L"p", cert.get(), 2, &pRecord), E_INVALIDARG);
    // A name the record cannot hold whole is refused rather than cut.
    const std::wstring longName(260, L'n');
    EXPECT_EQ(CertCreateUnregisteredCertContext(longName.c_str(), L"p", cert.get(), 2, &pRecord), E_INVALIDARG);
    EXPECT_EQ(pRecord, nullptr);
    const std::wstring maxName(259, L'n');
    ASSERT_EQ(CertCreateUnregisteredCertContext(maxName.c_str(), L"prov", cert.get(), 2, &pRecord), VESK_OK);
    EXPECT_EQ(pRecord->wszContainerName, maxName);
    EXPECT_STREQ(pRecord->wszProviderName, L"prov");
    EXPECT_EQ(pRecord->dwKeySpec, 2u);
    // The record holds its own reference: the certificate outlives the caller's.
    cert.reset();
    EXPECT_EQ(CommonName(pRecord->pCertContext), L"Bob Signer");
    CertFreeUnregisteredCertContext(pRecord);
    CertFreeUnregisteredCertContext(nullptr);
}

TEST(UnregisteredCertContext, DuplicateIsAFullCopy)
{
    CertPtr cert = LoadTestCertificate("sm2.der");
    ASSERT_TRUE(cert);
    PUNREGISTERED_CERT_CONTEXT pRecord = nullptr;
    ASSERT_EQ(CertCreateUnregisteredCertContext(L"cont", L"prov", cert.get(), 1, &pRecord), VESK_OK);
    PUNREGISTERED_CERT_CONTEXT pCopy = nullptr;
    ASSERT_EQ(CertDuplicateUnregisteredCertContext(pRecord, &pCopy), VESK_OK);
    ASSERT_NE(pCopy, pRecord);
    CertFreeUnregisteredCertContext(pRecord);
    EXPECT_STREQ(pCopy->wszContainerName, L"cont");
    EXPECT_STREQ(pCopy->wszProviderName, L"prov");
    EXPECT_EQ(pCopy->dwKeySpec, 1u);
    EXPECT_EQ(CommonName(pCopy->pCertContext), L"Alice Signer");

    UNREGISTERED_CERT_CONTEXT stEmpty = *pCopy;
    stEmpty.wszProviderName[0] = L'\0';
    PUNREGISTERED_CERT_CONTEXT pNone = nullptr;
    EXPECT_EQ(CertDuplicateUnregisteredCertContext(&stEmpty, &pNone), E_INVALIDARG);
    EXPECT_EQ(CertDuplicateUnregisteredCertContext(nullptr, &pNone), E_INVALIDARG);
    EXPECT_EQ(pNone, nullptr);

    UnregisteredCertVector vtr {pCopy, nullptr};
    RemoveAllUnregisteredCertificates(vtr);
    EXPECT_TRUE(vtr.empty());
}

} // namespace

// The agent and its SM2 signing functions on the test provider's keys:
// selection rules, the RSA path reached through a wider algorithm filter,
// the attach flag, and what the provider hands back, verified by OpenSSL.
#include "CryptoAgent.h"
#include "ErrorCode.h"
#include "OutText.h"
#include "SM2Signature.h"
#include "SignatureChecks.h"
#include "TestCertificateMaker.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

using testcsp::FromBase64;
using testcsp::VerifySM2;

namespace {

const wchar_t kProvider[] = L"Sigwell Agent Test CSP";
const char kProviderName[] = "Sigwell Agent Test CSP";

// An ECDSA certificate for digital signatures, which is neither SM2 nor
// RSA, written beside the test certificates.
void WriteECDSACertificate(const std::string &relativePath)
{
    EVP_PKEY *pKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    testcsp::CertificateSpec spec;
    spec.pKey = pKey;
    spec.subject = {{"CN", "Eve Curve"}};
    spec.serialHex = "4D"; // 77
    spec.nNotBeforeOffset = -3600;
    spec.keyUsage = "digitalSignature";
    const std::vector<unsigned char> der = testcsp::MakeCertificateDer(spec);
    std::ofstream out(testcsp::BesideProgram(relativePath), std::ios::binary);
    out.write(reinterpret_cast<const char *>(der.data()), static_cast<std::streamsize>(der.size()));
    EVP_PKEY_free(pKey);
}

// An agent whose candidates may have any signature algorithm with the
// given prefix, so that RSA certificates are selected too.
class WideAgent : public CCryptoAgent {
public:
    explicit WideAgent(LPCSTR pszPrefix) : m_pszPrefix(pszPrefix) { }

protected:
    LPCSTR CandidateSignatureAlgorithm() const override { return m_pszPrefix; }

private:
    LPCSTR m_pszPrefix;
};

class AgentOnTestProvider : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_provider = new testcsp::RegisteredProvider(kProvider); }
    static void TearDownTestSuite()
    {
        delete s_provider;
        s_provider = nullptr;
    }

    void SetUp() override { ASSERT_TRUE(s_provider->IsRegistered()); }

    // One container per entry, each certificate under the signature key.
    void WriteToken(const std::vector<std::pair<std::string, std::string>> &keys,
                    const std::string &flags = std::string())
    {
        m_config.Clear();
        for (const auto &key : keys) m_config.AddTestKey(kProviderName, key.first, key.second, flags);
        ASSERT_TRUE(m_config.Write());
    }

    // Alice's SM2 certificate alone on the token, selected by the agent.
    void SelectAlice(CCryptoAgent &agent, const std::string &flags = std::string())
    {
        WriteToken({{"alice", "sm2.der"}}, flags);
        VARIANT_BOOL bSelected = VARIANT_FALSE;
        ASSERT_EQ(S_OK, Select(agent, &bSelected));
        ASSERT_EQ(VARIANT_TRUE, bSelected);
    }

    static HRESULT Select(CCryptoAgent &agent, VARIANT_BOOL *pbSelected)
    {
        return agent.SelectCertificate(nullptr, nullptr, nullptr, kProvider, pbSelected);
    }

    static std::wstring Info(CCryptoAgent &agent, LPCWSTR pwszInfoType, HRESULT *phResult)
    {
        OutText info;
        *phResult = agent.GetSignCertInfo(pwszInfoType, &info);
        return info.Value();
    }

    // A refused selection leaves nothing selected.
    static void ExpectSelectionRefused(CCryptoAgent &agent, HRESULT hExpected)
    {
        VARIANT_BOOL bSelected = VARIANT_TRUE;
        EXPECT_EQ(hExpected, Select(agent, &bSelected));
        EXPECT_EQ(VARIANT_FALSE, bSelected);
        HRESULT hResult = S_OK;
        Info(agent, L"CertType", &hResult);
        EXPECT_EQ(VESK_E_CERT_NOT_READY, hResult);
    }

    static testcsp::RegisteredProvider *s_provider;
    testcsp::ProviderConfigFile m_config {"agent_provider.cfg"};
};

testcsp::RegisteredProvider *AgentOnTestProvider::s_provider = nullptr;

TEST_F(AgentOnTestProvider, OnlySM2CertificatesAreCandidates)
{
    WriteToken({{"alice", "sm2.der"}, {"bob", "rsa_sign.der"}});
    CCryptoAgent agent;
    VARIANT_BOOL bSelected = VARIANT_FALSE;
    ASSERT_EQ(S_OK, Select(agent, &bSelected));
    EXPECT_EQ(VARIANT_TRUE, bSelected);
    HRESULT hResult = E_FAIL;
    EXPECT_EQ(L"SM2", Info(agent, L"certtype", &hResult));
    EXPECT_EQ(S_OK, hResult);
    EXPECT_EQ(L"Alice Signer", Info(agent, L"SubjectCN", &hResult));
    EXPECT_EQ(kProvider, Info(agent, L"CSPName", &hResult));
    EXPECT_EQ(L"", Info(agent, L"Unknown", &hResult));
    EXPECT_EQ(E_INVALIDARG, hResult);
}

TEST_F(AgentOnTestProvider, TwoCandidatesAreRefusedAndDropThePreviousSelection)
{
    CCryptoAgent agent;
    ASSERT_NO_FATAL_FAILURE(SelectAlice(agent));

    WriteToken({{"alice", "sm2.der"}, {"alice-copy", "sm2.der"}});
    ExpectSelectionRefused(agent, VESK_E_TOO_MANY_CERTIFICATES);
}

TEST_F(AgentOnTestProvider, OnlyVariantTrueAttachesTheContent)
{
    CCryptoAgent agent;
    ASSERT_NO_FATAL_FAILURE(SelectAlice(agent));

    const std::string message = "attach me";
    OutText attached, detached;
    ASSERT_EQ(S_OK, agent.SignMsgPKCS7(L"attach me", L"", VARIANT_TRUE, &attached));
    ASSERT_EQ(S_OK, agent.SignMsgPKCS7(L"attach me", L"", 1, &detached));
    std::vector<BYTE> withContent = FromBase64(attached.Value());
    std::vector<BYTE> withoutContent = FromBase64(detached.Value());
    auto holds = [&](const std::vector<BYTE> &der) {
        return std::search(der.begin(), der.end(), message.begin(), message.end()) != der.end();
    };
    EXPECT_TRUE(holds(withContent));
    EXPECT_FALSE(holds(withoutContent));
}

TEST_F(AgentOnTestProvider, SM2PKCS1IgnoresTheHashNameAndVerifies)
{
    CCryptoAgent agent;
    ASSERT_NO_FATAL_FAILURE(SelectAlice(agent));
    std::vector<BYTE> certificate = ReadTestFile("testcerts\\sm2.der");
    for (const wchar_t *pwszHashAlg : {L"", L"MD5", L"SHA-256"}) {
        OutText signature;
        ASSERT_EQ(S_OK, agent.SignMsgPKCS1(L"\x4f60\x597d", pwszHashAlg, &signature));
        EXPECT_TRUE(VerifySM2(certificate, "\xe4\xbd\xa0\xe5\xa5\xbd", FromBase64(signature.Value()))) << pwszHashAlg;
    }
}

TEST_F(AgentOnTestProvider, FailedSigningKeepsTheSelection)
{
    CCryptoAgent agent;
    ASSERT_NO_FATAL_FAILURE(SelectAlice(agent, "sig65"));
    OutText pkcs1, pkcs7;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), agent.SignMsgPKCS1(L"x", L"", &pkcs1));
    EXPECT_EQ(L"", pkcs1.Value());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), agent.SignMsgPKCS7(L"x", L"", VARIANT_TRUE, &pkcs7));
    EXPECT_TRUE(pkcs7.IsNull());
    HRESULT hResult = E_FAIL;
    EXPECT_EQ(L"SM2", Info(agent, L"CertType", &hResult));
}

TEST_F(AgentOnTestProvider, RSASelectionThroughAWiderFilter)
{
    WriteToken({{"bob", "rsa_sign.der"}});
    WideAgent agent("1.2.840.113549");
    VARIANT_BOOL bSelected = VARIANT_FALSE;
    ASSERT_EQ(S_OK, Select(agent, &bSelected));
    EXPECT_EQ(VARIANT_TRUE, bSelected);
    HRESULT hResult = E_FAIL;
    EXPECT_EQ(L"RSA", Info(agent, L"CertType", &hResult));
    EXPECT_EQ(L"Bob Signer", Info(agent, L"SubjectCN", &hResult));
    EXPECT_EQ(L"008001", Info(agent, L"SerialNumber", &hResult));

    // The hash name is read on this path, before anything is signed.
    OutText signature;
    EXPECT_EQ(E_INVALIDARG, agent.SignMsgPKCS1(L"x", L"", &signature));
    EXPECT_EQ(VESK_E_INVALID_HASH_ALG, agent.SignMsgPKCS1(L"x", L"MD5", &signature));
    EXPECT_EQ(VESK_E_INVALID_HASH_ALG, agent.SignMsgPKCS7(L"x", L"SM3", VARIANT_TRUE, &signature));

    // A container's certificate carries no link to its key, so the system
    // cannot open that key from the certificate: the provider name and the
    // signatures of this path fail with the system's status.
    Info(agent, L"CSPName", &hResult);
    EXPECT_TRUE(FAILED(hResult));
    EXPECT_TRUE(FAILED(agent.SignMsgPKCS1(L"x", L"SHA-256", &signature)));
}

TEST_F(AgentOnTestProvider, SignatureAlgorithmsOtherThanSM2AndRSAAreRefused)
{
    WriteECDSACertificate("testcerts\\ecdsa.der");
    WriteToken({{"eve", "ecdsa.der"}});
    WideAgent agent(nullptr);
    ExpectSelectionRefused(agent, VESK_E_INVALID_KEY_ALG);
}

// Container names are ANSI bytes, here of a Chinese Windows (code page
// 936) and of UTF-8: each is opened by exactly what the provider listed.
TEST_F(AgentOnTestProvider, ContainerNamesAreOpenedByTheBytesListed)
{
    for (const char *pszName :
         {"\xd5\xc5\xc8\xfd\xb5\xc4\xc7\xa9\xc3\xfb\xc8\xdd\xc6\xf7", "\xe5\xbc\xa0\xe4\xb8\x89"}) {
        WriteToken({{pszName, "sm2.der"}});
        CCryptoAgent agent;
        VARIANT_BOOL bSelected = VARIANT_FALSE;
        EXPECT_EQ(S_OK, Select(agent, &bSelected)) << pszName;
        OutText signature;
        EXPECT_EQ(S_OK, agent.SignMsgPKCS1(L"x", L"", &signature)) << pszName;
    }
}

// The "no expiry" date, 99991231235959Z, falls in the year 10000 in China.
TEST_F(AgentOnTestProvider, DatesPastTheYear9999AreWhole)
{
    TIME_ZONE_INFORMATION stZone = {};
    if (GetTimeZoneInformation(&stZone) == TIME_ZONE_ID_INVALID || stZone.Bias != -480) GTEST_SKIP() << "UTC+8 only";
    EVP_PKEY *pKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
    testcsp::CertificateSpec spec;
    spec.pKey = pKey;
    spec.subject = {{"CN", "Frank Forever"}};
    spec.notBefore = "20200101000000Z";
    spec.notAfter = "99991231235959Z";
    spec.keyUsage = "digitalSignature";
    const std::vector<unsigned char> der = testcsp::MakeCertificateDer(spec);
    EVP_PKEY_free(pKey);
    std::ofstream(testcsp::BesideProgram("testcerts\\forever.der"), std::ios::binary)
        .write(reinterpret_cast<const char *>(der.data()), static_cast<std::streamsize>(der.size()));
    WriteToken({{"frank", "forever.der"}});
    WideAgent agent("1.2.840.113549");
    VARIANT_BOOL bSelected = VARIANT_FALSE;
    ASSERT_EQ(S_OK, Select(agent, &bSelected));
    HRESULT hResult = E_FAIL;
    EXPECT_EQ(L"10000-01-01 07:59:59", Info(agent, L"ValidTo", &hResult));
}

class SM2SigningOnTestProvider : public AgentOnTestProvider {
protected:
    UNREGISTERED_CERT_CONTEXT *Record(const wchar_t *pwszContainer)
    {
        m_cert = LoadTestCertificate("sm2.der");
        wcscpy(m_record.wszProviderName, kProvider);
        wcscpy(m_record.wszContainerName, pwszContainer);
        WideCharToMultiByte(CP_ACP, 0, pwszContainer, -1, m_record.szContainerName, UNREGISTERED_NAME_CCH, nullptr,
                            nullptr);
        m_record.dwKeySpec = AT_SIGNATURE;
        m_record.pCertContext = m_cert.get();
        return &m_record;
    }

    CertPtr m_cert;
    UNREGISTERED_CERT_CONTEXT m_record = {};
};

TEST_F(SM2SigningOnTestProvider, RawSignatureIsROrderedThenSAndHashedInOneCall)
{
    WriteToken({{"alice", "sm2.der"}});
    std::string log = testcsp::BesideProgram("agent_provider.log");
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("SIGWELL_TESTCSP_LOG", log.c_str());
    std::string message(40000, 'm');
    BYTE *pbRaw = nullptr;
    DWORD cbRaw = 0;
    HRESULT hResult =
        SM2CalculateHashandSignbyUnregisteredCert(Record(L"alice"), reinterpret_cast<const BYTE *>(message.data()),
                                                  static_cast<DWORD>(message.size()), &pbRaw, &cbRaw);
    SetEnvironmentVariableA("SIGWELL_TESTCSP_LOG", nullptr);
    ASSERT_EQ(S_OK, hResult);
    ASSERT_EQ(64u, cbRaw);

    BYTE *pbDer = nullptr;
    DWORD cbDer = 0;
    ASSERT_EQ(S_OK, SM2EncodeRawSignature(&cbDer, pbRaw, cbRaw, &pbDer, SM2_SIGNATURE_DER_SEQUENCE));
    EXPECT_TRUE(VerifySM2(ReadTestFile("testcerts\\sm2.der"), message, std::vector<BYTE>(pbDer, pbDer + cbDer)));
    delete[] pbDer;
    delete[] pbRaw;

    std::ifstream in(log);
    std::string line, hashes;
    while (std::getline(in, line))
        if (line.rfind("hash|", 0) == 0) hashes += line + ";";
    EXPECT_EQ("hash|40000;", hashes);
}

TEST_F(SM2SigningOnTestProvider, ContainerThatCannotBeOpenedGivesItsOwnStatus)
{
    WriteToken({{"alice", "sm2.der"}});
    BYTE *pbRaw = nullptr;
    DWORD cbRaw = 0;
    const BYTE abData[] = {'x'};
    EXPECT_EQ(NTE_BAD_KEYSET, SM2CalculateHashandSignbyUnregisteredCert(Record(L"missing"), abData, 1, &pbRaw, &cbRaw));
    EXPECT_EQ(nullptr, pbRaw);
    BSTR bstr = nullptr;
    EXPECT_EQ(NTE_BAD_KEYSET,
              SM2SignBinaryDatabyUnregisteredCert(Record(L"missing"), 1, TRUE, "1.2.156.10197.1.301.1", &bstr, abData));
    EXPECT_EQ(nullptr, bstr);
}

TEST_F(SM2SigningOnTestProvider, SignatureOfTheWrongSizeIsNotHandedOut)
{
    WriteToken({{"alice", "sm2.der"}}, "sig65");
    BYTE *pbRaw = nullptr;
    DWORD cbRaw = 0;
    const BYTE abData[] = {'x'};
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
              SM2CalculateHashandSignbyUnregisteredCert(Record(L"alice"), abData, 1, &pbRaw, &cbRaw));
    EXPECT_EQ(nullptr, pbRaw);
    EXPECT_EQ(0u, cbRaw);
}

} // namespace

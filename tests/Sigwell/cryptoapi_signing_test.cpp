// Signatures made on the test provider's RSA key. The files written to
// "signatures" beside the program are verified afterwards by the native
// openssl (verify_signatures.sh).
#include "CryptoApiSigning.h"

#include "CertificateQuery.h"
#include "ErrorCode.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

const wchar_t kProvider[] = L"Sigwell Signing CSP";
const char kProviderName[] = "Sigwell Signing CSP";
const wchar_t kContainer[] = L"signer";

std::vector<BYTE> Message(size_t cb)
{
    std::vector<BYTE> data(cb);
    for (size_t i = 0; i < cb; ++i) data[i] = static_cast<BYTE>('a' + i % 26);
    return data;
}

void WriteOutput(const std::string &fileName, const std::vector<BYTE> &bytes)
{
    CreateDirectoryA(testcsp::BesideProgram("signatures").c_str(), nullptr);
    std::ofstream out(testcsp::BesideProgram("signatures\\" + fileName), std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
}

std::vector<BYTE> DecodeBase64(BSTR bstr)
{
    DWORD cb = 0;
    if (!CryptStringToBinaryW(bstr, 0, CRYPT_STRING_BASE64, nullptr, &cb, nullptr, nullptr)) return {};
    std::vector<BYTE> der(cb);
    CryptStringToBinaryW(bstr, 0, CRYPT_STRING_BASE64, der.data(), &cb, nullptr, nullptr);
    return der;
}

bool Contains(const std::vector<BYTE> &haystack, const std::vector<BYTE> &needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

std::vector<std::string> LogLines(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CryptoApiSigning : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_provider.reset(new testcsp::RegisteredProvider(kProvider)); }
    static void TearDownTestSuite() { s_provider.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_provider->IsRegistered());
        m_config.AddKey(kProviderName, "signer", AT_SIGNATURE, "testcerts\\rsa_sign.der", "testcerts\\rsa.key");
        ASSERT_TRUE(m_config.Write());
        m_logPath = testcsp::BesideProgram("cryptoapi_signing.log");
        DeleteFileA(m_logPath.c_str());
        SetEnvironmentVariableA("SIGWELL_TESTCSP_LOG", m_logPath.c_str());

        m_cert = LoadTestCertificate("rsa_sign.der");
        ASSERT_TRUE(m_cert);
        // The key's place, as a certificate registered by its provider carries it.
        CRYPT_KEY_PROV_INFO stProvInfo = {};
        stProvInfo.pwszContainerName = const_cast<LPWSTR>(kContainer);
        stProvInfo.pwszProvName = const_cast<LPWSTR>(kProvider);
        stProvInfo.dwProvType = PROV_RSA_FULL;
        stProvInfo.dwKeySpec = AT_SIGNATURE;
        ASSERT_TRUE(CertSetCertificateContextProperty(m_cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &stProvInfo));
    }
    void TearDown() override { SetEnvironmentVariableA("SIGWELL_TESTCSP_LOG", nullptr); }

    std::vector<BYTE> SignPkcs7(ALG_ID algId, BOOL bAttached, const std::vector<BYTE> &data)
    {
        BSTR bstr = nullptr;
        EXPECT_EQ(SignBinaryData(&bstr, data.data(), m_cert.get(), static_cast<DWORD>(data.size()), algId, bAttached),
                  VESK_OK);
        if (bstr == nullptr) return {};
        // One line, padded.
        EXPECT_EQ(std::wstring(bstr).find_first_of(L"\r\n"), std::wstring::npos);
        EXPECT_EQ(SysStringLen(bstr) % 4, 0u);
        std::vector<BYTE> der = DecodeBase64(bstr);
        SysFreeString(bstr);
        return der;
    }

    static std::unique_ptr<testcsp::RegisteredProvider> s_provider;
    testcsp::ProviderConfigFile m_config {"cryptoapi_signing.cfg"};
    std::string m_logPath;
    CertPtr m_cert;
};

std::unique_ptr<testcsp::RegisteredProvider> CryptoApiSigning::s_provider;

TEST(AlgorithmIdentifiers, TableRowsAndNothingElse)
{
    const struct {
        ALG_ID algId;
        const char *digest;
        const char *signature;
    } rows[] = {
        {CALG_MD5, "1.2.840.113549.2.5", "1.2.840.113549.1.1.4"},
        {CALG_SHA1, "1.3.14.3.2.26", "1.2.840.113549.1.1.1"},
        {CALG_SHA_256, "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.11"},
        {CALG_SHA_384, "2.16.840.1.101.3.4.2.2", "1.2.840.113549.1.1.12"},
        {CALG_SHA_512, "2.16.840.1.101.3.4.2.3", "1.2.840.113549.1.1.13"},
        {0x800F, "1.2.156.10197.1.401", "1.2.156.10197.1.301.1"},
    };
    for (const auto &row : rows) {
        LPCSTR pszSignature = nullptr, pszDigest = nullptr;
        ASSERT_TRUE(GetAlgorithmIdentifiers(&pszSignature, &pszDigest, row.algId));
        EXPECT_STREQ(pszDigest, row.digest);
        EXPECT_STREQ(pszSignature, row.signature);
    }
    LPCSTR pszSignature = nullptr, pszDigest = nullptr;
    EXPECT_FALSE(GetAlgorithmIdentifiers(&pszSignature, &pszDigest, CALG_MD2));
    EXPECT_FALSE(GetAlgorithmIdentifiers(&pszSignature, &pszDigest, CALG_SHA_256 + 0x100));
}

TEST(SwapByteOrder, ReversesInPlace)
{
    BYTE ab[] = {1, 2, 3, 4, 5};
    SwapByteOrder(ab, 5);
    EXPECT_EQ(std::vector<BYTE>(ab, ab + 5), (std::vector<BYTE> {5, 4, 3, 2, 1}));
    SwapByteOrder(ab, 0);
    EXPECT_EQ(ab[0], 5);
}

TEST_F(CryptoApiSigning, ProviderParametersAndKeyQueries)
{
    HCRYPTPROV hProv = 0;
    ASSERT_TRUE(CryptAcquireContextW(&hProv, kContainer, kProvider, PROV_RSA_FULL, 0));
    BYTE *pb = nullptr;
    DWORD cb = 0;
    ASSERT_EQ(GetProviderInfo(&cb, hProv, PP_CONTAINER, &pb), VESK_OK);
    EXPECT_EQ(cb, 7u);
    EXPECT_STREQ(reinterpret_cast<char *>(pb), "signer");
    delete[] pb;
    pb = nullptr;
    EXPECT_EQ(GetProviderInfo(&cb, hProv, 0x7777, &pb), NTE_BAD_TYPE);
    EXPECT_EQ(pb, nullptr);
    CryptReleaseContext(hProv, 0);

    // A provider that leaves the terminating zero out still gives a text.
    m_config.AddProviderRecord("unterminated", kProviderName);
    ASSERT_TRUE(m_config.Write());
    ASSERT_TRUE(CryptAcquireContextW(&hProv, kContainer, kProvider, PROV_RSA_FULL, 0));
    ASSERT_EQ(GetProviderInfo(&cb, hProv, PP_CONTAINER, &pb), VESK_OK);
    ASSERT_EQ(cb, 6u);
    EXPECT_EQ(pb[cb], 0);
    delete[] pb;
    pb = nullptr;
    CryptReleaseContext(hProv, 0);

    for (DWORD dwType : {CERTINFO_PROVIDER_NAME, CERTINFO_CONTAINER_NAME}) {
        LPWSTR pwsz = nullptr;
        DWORD cch = 0;
        ASSERT_EQ(QueryCertContextInfo(&cch, &pwsz, m_cert.get(), dwType), VESK_OK) << dwType;
        const std::wstring expected = dwType == CERTINFO_PROVIDER_NAME ? kProvider : kContainer;
        EXPECT_EQ(pwsz, expected);
        EXPECT_EQ(cch, expected.size()); // without the terminator
        delete[] pwsz;
    }
}

TEST_F(CryptoApiSigning, Pkcs1HashesInSixteenKilobyteSteps)
{
    const std::vector<BYTE> data = Message(40000);
    BYTE *pbSignature = nullptr;
    DWORD cbSignature = 0;
    ASSERT_EQ(CalculateHashandSign(data.data(), m_cert.get(), static_cast<DWORD>(data.size()), CALG_SHA_256,
                                   &pbSignature, &cbSignature, FALSE),
              VESK_OK);
    const std::vector<BYTE> signature(pbSignature, pbSignature + cbSignature);
    delete[] pbSignature;
    EXPECT_EQ(cbSignature, 256u);
    WriteOutput("pkcs1_sha256.bin", data);
    WriteOutput("pkcs1_sha256.sig", signature);

    std::vector<std::string> hashes;
    for (const std::string &line : LogLines(m_logPath))
        if (line.rfind("hash|", 0) == 0) hashes.push_back(line);
    EXPECT_EQ(hashes, (std::vector<std::string> {"hash|16384", "hash|16384", "hash|7232"}));
}

TEST_F(CryptoApiSigning, Pkcs1EmptyDataHashesNothing)
{
    BYTE *pbSignature = nullptr;
    DWORD cbSignature = 0;
    ASSERT_EQ(CalculateHashandSign(nullptr, m_cert.get(), 0, CALG_SHA1, &pbSignature, &cbSignature, FALSE), VESK_OK);
    WriteOutput("pkcs1_sha1_empty.sig", std::vector<BYTE>(pbSignature, pbSignature + cbSignature));
    delete[] pbSignature;
    for (const std::string &line : LogLines(m_logPath)) EXPECT_NE(line.rfind("hash|", 0), 0u) << line;
}

TEST_F(CryptoApiSigning, Pkcs1NeedsTheKeyProperty)
{
    CertPtr bare = LoadTestCertificate("rsa_sign.der");
    BYTE *pbSignature = nullptr;
    DWORD cbSignature = 0;
    HRESULT hResult =
        CalculateHashandSign(Message(10).data(), bare.get(), 10, CALG_SHA_256, &pbSignature, &cbSignature, TRUE);
    EXPECT_LT(hResult, 0);
    EXPECT_EQ(pbSignature, nullptr);
    EXPECT_EQ(CalculateHashandSign(Message(10).data(), m_cert.get(), 10, CALG_MD2, &pbSignature, &cbSignature, TRUE),
              NTE_BAD_ALGID);
    EXPECT_EQ(pbSignature, nullptr);
}

TEST_F(CryptoApiSigning, Pkcs7AttachedAndDetached)
{
    const std::vector<BYTE> data = Message(1000);
    WriteOutput("pkcs7_data.bin", data);
    const std::vector<BYTE> attached = SignPkcs7(CALG_SHA_256, TRUE, data);
    WriteOutput("pkcs7_sha256_attached.der", attached);
    EXPECT_TRUE(Contains(attached, data));
    // digestAlgorithms: SET { SEQUENCE { 2.16.840.1.101.3.4.2.1, NULL } }
    EXPECT_TRUE(Contains(
        attached,
        {0x31, 0x0F, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00}));

    const std::vector<BYTE> detached = SignPkcs7(CALG_SHA_256, FALSE, data);
    WriteOutput("pkcs7_sha256_detached.der", detached);
    EXPECT_FALSE(Contains(detached, data));
    // contentInfo holds only the data type.
    EXPECT_TRUE(
        Contains(detached, {0x30, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01, 0xA0}));
    EXPECT_GT(attached.size(), detached.size() + data.size());
}

TEST_F(CryptoApiSigning, Pkcs7OtherDigests)
{
    const std::vector<BYTE> data = Message(300);
    const std::vector<BYTE> md5 = SignPkcs7(CALG_MD5, TRUE, data);
    WriteOutput("pkcs7_md5_attached.der", md5);
    EXPECT_TRUE(Contains(md5, {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05}));
    // SHA-1 signs under rsaEncryption.
    const std::vector<BYTE> sha1 = SignPkcs7(CALG_SHA1, TRUE, data);
    WriteOutput("pkcs7_sha1_attached.der", sha1);
    EXPECT_TRUE(Contains(sha1, {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}));
    WriteOutput("pkcs7_sha512_attached.der", SignPkcs7(CALG_SHA_512, TRUE, data));

    BSTR bstr = nullptr;
    EXPECT_EQ(SignBinaryData(&bstr, data.data(), m_cert.get(), 300, CALG_MD2, TRUE), NTE_BAD_ALGID);
    EXPECT_EQ(bstr, nullptr);
}

} // namespace

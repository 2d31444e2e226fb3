// The test provider itself, as other tests rely on it: its parameters,
// hashes and SM2 signatures (checked afterwards by openssl, verify_sm2.sh).
#include "SM2RawSignature.h"
#include "TestCspSetup.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

const wchar_t kProvider[] = L"Sigwell Provider Self Test";
const char kProviderName[] = "Sigwell Provider Self Test";

void WriteOutput(const std::string &fileName, const BYTE *pb, DWORD cb)
{
    CreateDirectoryA(testcsp::BesideProgram("signatures").c_str(), nullptr);
    std::ofstream out(testcsp::BesideProgram("signatures\\" + fileName), std::ios::binary);
    out.write(reinterpret_cast<const char *>(pb), cb);
}

class TestProvider : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_registration.IsRegistered());
        m_config.AddKey(kProviderName, "sm2", AT_SIGNATURE, "testcerts\\sm2.der", "testcerts\\sm2.key");
        m_config.AddKeyId(kProviderName, "TOKEN-0001");
        m_config.AddKeyId(kProviderName, "TOKEN-0002");
        ASSERT_TRUE(m_config.Write());
        ASSERT_TRUE(CryptAcquireContextW(&m_hProv, L"sm2", kProvider, PROV_RSA_FULL, 0));
    }
    void TearDown() override
    {
        if (m_hProv) CryptReleaseContext(m_hProv, 0);
    }

    testcsp::RegisteredProvider m_registration {kProvider};
    testcsp::ProviderConfigFile m_config {"testcsp_test.cfg"};
    HCRYPTPROV m_hProv = 0;
};

TEST_F(TestProvider, KeyIdentifiersAsAMultiString)
{
    DWORD cb = 0;
    ASSERT_TRUE(CryptGetProvParam(m_hProv, 80, nullptr, &cb, CRYPT_FIRST));
    std::vector<BYTE> list(cb);
    ASSERT_TRUE(CryptGetProvParam(m_hProv, 80, list.data(), &cb, CRYPT_FIRST));
    const char expected[] = "TOKEN-0001\0TOKEN-0002\0";
    EXPECT_EQ(std::string(list.begin(), list.end()), std::string(expected, sizeof expected));
}

TEST_F(TestProvider, Sm3HashUnderTheProvidersValue)
{
    HCRYPTHASH hHash = 0;
    ASSERT_TRUE(CryptCreateHash(m_hProv, 0x800F, 0, 0, &hHash));
    ASSERT_TRUE(CryptHashData(hHash, reinterpret_cast<const BYTE *>("abc"), 3, 0));
    BYTE ab[32];
    DWORD cb = sizeof ab;
    ASSERT_TRUE(CryptGetHashParam(hHash, HP_HASHVAL, ab, &cb, 0));
    // GB/T 32905 example 1.
    const BYTE kExpected[] = {0x66, 0xc7, 0xf0, 0xf4, 0x62, 0xee, 0xed, 0xd9, 0xd1, 0xf2, 0xd4,
                              0x6b, 0xdc, 0x10, 0xe4, 0xe2, 0x41, 0x67, 0xc4, 0x87, 0x5c, 0xf2,
                              0xf7, 0xa2, 0x29, 0x7d, 0xa0, 0x2b, 0x8f, 0x4b, 0xa8, 0xe0};
    EXPECT_EQ(std::vector<BYTE>(ab, ab + cb), std::vector<BYTE>(kExpected, kExpected + 32));
    CryptDestroyHash(hHash);
}

TEST_F(TestProvider, Sm2SignatureOverTheMessage)
{
    const char kMessage[] = "message signed by the test provider";
    HCRYPTHASH hHash = 0;
    ASSERT_TRUE(CryptCreateHash(m_hProv, 0x800F, 0, 0, &hHash));
    ASSERT_TRUE(CryptHashData(hHash, reinterpret_cast<const BYTE *>(kMessage), sizeof kMessage - 1, 0));
    BYTE abRaw[64];
    DWORD cbRaw = sizeof abRaw;
    ASSERT_TRUE(CryptSignHashW(hHash, AT_SIGNATURE, nullptr, 0, abRaw, &cbRaw));
    CryptDestroyHash(hHash);
    ASSERT_EQ(cbRaw, 64u);
    // r and s come least significant byte first.
    std::reverse(abRaw, abRaw + 32);
    std::reverse(abRaw + 32, abRaw + 64);
    BYTE *pbDer = nullptr;
    DWORD cbDer = 0;
    ASSERT_EQ(SM2EncodeRawSignature(&cbDer, abRaw, 64, &pbDer, SM2_SIGNATURE_DER_SEQUENCE), 0);
    WriteOutput("sm2_sm3.der", pbDer, cbDer);
    WriteOutput("sm2_sm3.bin", reinterpret_cast<const BYTE *>(kMessage), sizeof kMessage - 1);
    delete[] pbDer;
}

TEST_F(TestProvider, KeyWithoutPrivateKeyCannotSign)
{
    m_config.Clear();
    m_config.AddKey(kProviderName, "public-only", AT_SIGNATURE, "testcerts\\sm2.der", "");
    ASSERT_TRUE(m_config.Write());
    HCRYPTPROV hProv = 0;
    ASSERT_TRUE(CryptAcquireContextW(&hProv, L"public-only", kProvider, PROV_RSA_FULL, 0));
    HCRYPTHASH hHash = 0;
    ASSERT_TRUE(CryptCreateHash(hProv, 0x800F, 0, 0, &hHash));
    DWORD cb = 0;
    EXPECT_FALSE(CryptSignHashW(hHash, AT_SIGNATURE, nullptr, 0, nullptr, &cb));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
    CryptDestroyHash(hHash);
    CryptReleaseContext(hProv, 0);
}

} // namespace

// The agent's operations that need no certificate provider: its state
// before a selection, its last status, hash names, key identifiers of a
// provider that does not exist, and the MAC-address list over adapter
// registry keys that the test writes.
#include "CryptoAgent.h"
#include "ErrorCode.h"
#include "NetworkAdapters.h"
#include "OutText.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <iphlpapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kNetworkClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

TEST(GetHashAlgorithmIDByName, KnowsTheFourSHANamesInAnyCase)
{
    const struct {
        const wchar_t *pwszName;
        ALG_ID algId;
    } kCases[] = {
        {L"SHA-1", CALG_SHA1},
        {L"sha-256", CALG_SHA_256},
        {L"Sha-384", CALG_SHA_384},
        {L"SHA-512", CALG_SHA_512},
        {L"SHA1", 0},
        {L"SHA-256 ", 0},
        {L"MD5", 0},
        {L"SM3", 0},
        {L"", 0},
    };
    for (const auto &c : kCases) EXPECT_EQ(c.algId, GetHashAlgorithmIDByName(c.pwszName)) << c.pwszName;
    EXPECT_EQ(0u, GetHashAlgorithmIDByName(nullptr));
}

class FreshAgent : public ::testing::Test {
protected:
    std::wstring LastErrorDesc()
    {
        OutText desc;
        EXPECT_EQ(S_OK, m_agent.GetLastErrorDesc(&desc));
        return desc.Value();
    }

    CCryptoAgent m_agent;
};

TEST_F(FreshAgent, SmAlgorithmsAreFoundByName)
{
    for (const char *name : {"sm3", "ChinaSM3", "sm2-sm3"}) EXPECT_NE(EVP_get_digestbyname(name), nullptr) << name;
    for (const char *name : {"sm4-cbc", "ChinaSM4-CBC", "zuc", "ChinaZUC"})
        EXPECT_NE(EVP_get_cipherbyname(name), nullptr) << name;
}

TEST_F(FreshAgent, NothingSelectedAnswersCertificateNotReady)
{
    OutText info, pkcs7, pkcs1;
    EXPECT_EQ(VESK_E_CERT_NOT_READY, m_agent.GetSignCertInfo(L"SubjectDN", &info));
    EXPECT_EQ(L"", info.Value());
    EXPECT_EQ(VESK_E_CERT_NOT_READY, m_agent.SignMsgPKCS7(L"text", L"SHA-1", VARIANT_TRUE, &pkcs7));
    EXPECT_TRUE(pkcs7.IsNull());
    EXPECT_EQ(VESK_E_CERT_NOT_READY, m_agent.SignMsgPKCS1(L"text", L"", &pkcs1));
    EXPECT_EQ(L"", pkcs1.Value());
    EXPECT_EQ(L"Certificate is not ready.\n(0xa0072001)", LastErrorDesc());
}

TEST_F(FreshAgent, MissingTextsAreCheckedBeforeTheSelection)
{
    OutText info, pkcs7, pkcs1;
    EXPECT_EQ(E_INVALIDARG, m_agent.GetSignCertInfo(L"", &info));
    EXPECT_EQ(L"", info.Value());
    EXPECT_EQ(E_INVALIDARG, m_agent.GetSignCertInfo(nullptr, &info));
    EXPECT_EQ(E_INVALIDARG, m_agent.SignMsgPKCS7(nullptr, L"SHA-1", VARIANT_TRUE, &pkcs7));
    EXPECT_TRUE(pkcs7.IsNull());
    EXPECT_EQ(E_INVALIDARG, m_agent.SignMsgPKCS1(L"", L"SHA-1", &pkcs1));
    EXPECT_EQ(L"", pkcs1.Value());
}

TEST_F(FreshAgent, NullOutPointersAreRefused)
{
    EXPECT_EQ(E_POINTER, m_agent.SelectCertificate(nullptr, nullptr, nullptr, L"", nullptr));
    EXPECT_EQ(E_POINTER, m_agent.GetSignCertInfo(L"CertType", nullptr));
    EXPECT_EQ(E_POINTER, m_agent.SignMsgPKCS7(L"a", L"SHA-1", VARIANT_TRUE, nullptr));
    EXPECT_EQ(E_POINTER, m_agent.SignMsgPKCS1(L"a", L"SHA-1", nullptr));
    EXPECT_EQ(E_POINTER, m_agent.GetKeyID(L"x", nullptr));
    EXPECT_EQ(E_POINTER, m_agent.GetMACAddress(nullptr));
}

TEST_F(FreshAgent, LastErrorDescFollowsEachOperationAndRepeats)
{
    std::wstring success = LastErrorDesc();
    EXPECT_NE(std::wstring::npos, success.find(L"\n(0x00000000)")) << success;

    OutText info;
    m_agent.GetSignCertInfo(L"", &info);
    EXPECT_EQ(LastErrorDesc(), LastErrorDesc());
    EXPECT_NE(std::wstring::npos, LastErrorDesc().find(L"(0x80070057)"));

    // The version call leaves the stored status alone and hands out nothing.
    OutText version;
    EXPECT_EQ(S_OK, m_agent.GetVersion(&version));
    EXPECT_TRUE(version.IsNull());
    EXPECT_NE(std::wstring::npos, LastErrorDesc().find(L"(0x80070057)"));
}

TEST_F(FreshAgent, EmptyProviderListFindsNoCertificate)
{
    VARIANT_BOOL bSelected = VARIANT_TRUE;
    EXPECT_EQ(VESK_E_NO_CERTIFICATE, m_agent.SelectCertificate(L"", L"", L"", L"", &bSelected));
    EXPECT_EQ(VARIANT_FALSE, bSelected);
    EXPECT_EQ(L"There is no available certificate in store.\n(0xa0071001)", LastErrorDesc());
    OutText info;
    EXPECT_EQ(VESK_E_CERT_NOT_READY, m_agent.GetSignCertInfo(L"CertType", &info));
}

TEST_F(FreshAgent, KeyIDOfAMissingProviderFailsWithAnEmptyText)
{
    OutText keyID;
    HRESULT hResult = m_agent.GetKeyID(L"No Such Provider v0", &keyID);
    EXPECT_TRUE(FAILED(hResult)) << std::hex << hResult;
    EXPECT_EQ(L"", keyID.Value());
    wchar_t wszCode[16];
    swprintf(wszCode, 16, L"(0x%08lx)", static_cast<unsigned long>(hResult));
    EXPECT_NE(std::wstring::npos, LastErrorDesc().find(wszCode));
}

// Adapter keys written under the network class key and removed again.
class AdapterKeys {
public:
    AdapterKeys() = default;
    AdapterKeys(const AdapterKeys &) = delete;
    AdapterKeys &operator=(const AdapterKeys &) = delete;
    ~AdapterKeys()
    {
        for (const std::string &name : m_names)
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kNetworkClassKey) + "\\" + name).c_str());
    }

    bool Set(const std::string &name, const char *pszInstanceId)
    {
        std::string path = std::string(kNetworkClassKey) + "\\" + name + "\\Connection";
        HKEY hKey = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr) !=
            ERROR_SUCCESS)
            return false;
        m_names.push_back(name);
        LONG nResult = RegSetValueExA(hKey, "PnPInstanceId", 0, REG_SZ, reinterpret_cast<const BYTE *>(pszInstanceId),
                                      static_cast<DWORD>(strlen(pszInstanceId) + 1));
        RegCloseKey(hKey);
        return nResult == ERROR_SUCCESS;
    }

private:
    std::vector<std::string> m_names;
};

TEST(IsLocalAdapter, PCIAndUSBInstancesAreLocal)
{
    AdapterKeys keys;
    const struct {
        const char *pszName;
        const char *pszInstanceId;
        BOOL bLocal;
    } kCases[] = {
        {"{00000000-5157-0000-0000-000000000001}", "PCI\\VEN_8086&DEV_100E\\3&1", TRUE},
        {"{00000000-5157-0000-0000-000000000002}", "USB\\VID_0B95&PID_1790\\1", TRUE},
        {"{00000000-5157-0000-0000-000000000003}", "ROOT\\NET\\0000", FALSE},
        {"{00000000-5157-0000-0000-000000000004}", "pci\\ven_8086", FALSE},
        {"{00000000-5157-0000-0000-000000000005}", "US", FALSE},
    };
    for (const auto &c : kCases) {
        ASSERT_TRUE(keys.Set(c.pszName, c.pszInstanceId));
        BOOL bLocal = 2;
        EXPECT_EQ(0, IsLocalAdapter(c.pszName, &bLocal)) << c.pszInstanceId;
        EXPECT_EQ(c.bLocal, bLocal) << c.pszInstanceId;
    }
}

TEST(IsLocalAdapter, MissingNamesAndKeysAreFailures)
{
    BOOL bLocal = FALSE;
    EXPECT_EQ(-1, IsLocalAdapter(nullptr, &bLocal));
    EXPECT_EQ(-1, IsLocalAdapter("", &bLocal));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, IsLocalAdapter("{00000000-5157-0000-0000-0000000000ff}", &bLocal));

    AdapterKeys keys;
    const char kLong[] = "{00000000-5157-0000-0000-000000000006}";
    std::string longId(300, 'P');
    ASSERT_TRUE(keys.Set(kLong, longId.c_str()));
    EXPECT_EQ(ERROR_MORE_DATA, IsLocalAdapter(kLong, &bLocal));
}

struct Adapter {
    std::string name;
    std::string address;
};

// What the system reports, read the way the agent reads it.
std::vector<Adapter> SystemAdapters(DWORD *pdwResult)
{
    ULONG cb = 0;
    *pdwResult = GetAdaptersInfo(nullptr, &cb);
    std::vector<BYTE> buffer(cb ? cb : 1);
    if (*pdwResult == ERROR_BUFFER_OVERFLOW)
        *pdwResult = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &cb);
    std::vector<Adapter> adapters;
    if (*pdwResult != NO_ERROR) return adapters;
    for (auto *p = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()); p; p = p->Next) {
        char szAddress[18];
        snprintf(szAddress, sizeof(szAddress), "%02x-%02x-%02x-%02x-%02x-%02x", p->Address[0], p->Address[1],
                 p->Address[2], p->Address[3], p->Address[4], p->Address[5]);
        adapters.push_back({p->AdapterName, szAddress});
    }
    return adapters;
}

std::wstring Widen(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

TEST(GetMACAddress, ListsTheLocalAdaptersInOrder)
{
    DWORD dwResult = 0;
    std::vector<Adapter> adapters = SystemAdapters(&dwResult);
    CCryptoAgent agent;
    OutText list;
    if (dwResult != NO_ERROR) {
        EXPECT_EQ(HRESULT_FROM_WIN32(dwResult), agent.GetMACAddress(&list));
        GTEST_SKIP() << "no network adapters: " << dwResult;
    }

    // Without connection keys no adapter counts as local.
    EXPECT_EQ(S_OK, agent.GetMACAddress(&list));
    EXPECT_EQ(L"", list.Value());

    AdapterKeys keys;
    std::wstring expected;
    for (const Adapter &adapter : adapters) {
        ASSERT_TRUE(keys.Set(adapter.name, "PCI\\VEN_8086&DEV_100E"));
        expected += (expected.empty() ? L"" : L"|") + Widen(adapter.address);
    }
    OutText all;
    EXPECT_EQ(S_OK, agent.GetMACAddress(&all));
    EXPECT_EQ(expected, all.Value());
    EXPECT_EQ(adapters.size() * 18 - 1, all.Value().size());

    // Only the first adapter local: its address alone, without a separator.
    for (size_t i = 1; i < adapters.size(); ++i) ASSERT_TRUE(keys.Set(adapters[i].name, "ROOT\\NET\\0001"));
    OutText first;
    EXPECT_EQ(S_OK, agent.GetMACAddress(&first));
    EXPECT_EQ(Widen(adapters[0].address), first.Value());
    EXPECT_EQ(17u, first.Value().size());
}

} // namespace

// NP_Install in the test prefix: the discarded CA certificates of earlier
// releases leave the stores, the chains the plug-in carries arrive.
#include "TestBrowser.h"
#include "TestCA.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace testca;

namespace {

const DWORD LM = CERT_SYSTEM_STORE_LOCAL_MACHINE;
const DWORD CU = CERT_SYSTEM_STORE_CURRENT_USER;

std::string ProgramFolder()
{
    char szPath[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string path(szPath, cch);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

// "root <thumbprint>" and "ca <thumbprint>" lines of a chain's manifest.
std::vector<std::pair<std::string, std::wstring>> Manifest(const std::string &fileName)
{
    std::vector<std::pair<std::string, std::wstring>> entries;
    std::ifstream in(ProgramFolder() + fileName);
    std::string kind, thumbprint;
    while (in >> kind >> thumbprint) entries.emplace_back(kind, std::wstring(thumbprint.begin(), thumbprint.end()));
    return entries;
}

// One property of a serialized store element: 32 is the certificate.
std::vector<BYTE> PropertyOfElement(const std::vector<BYTE> &element, DWORD dwWanted)
{
    size_t pos = 0;
    auto u32 = [&](size_t at) {
        return static_cast<DWORD>(element[at]) | element[at + 1] << 8 | element[at + 2] << 16 |
            static_cast<DWORD>(element[at + 3]) << 24;
    };
    while (pos + 12 <= element.size()) {
        DWORD dwId = u32(pos), cbValue = u32(pos + 8);
        if (pos + 12 + cbValue > element.size()) break;
        if (dwId == dwWanted)
            return std::vector<BYTE>(element.begin() + pos + 12, element.begin() + pos + 12 + cbValue);
        pos += 12 + cbValue;
    }
    return {};
}

std::vector<BYTE> CertificateOfElement(const std::vector<BYTE> &element)
{
    return PropertyOfElement(element, 32);
}

// The subject key identifier extension's value, which chain building
// matches with the key-identifier property (20) of a root.
std::vector<BYTE> SubjectKeyId(const std::vector<BYTE> &der)
{
    const unsigned char *p = der.data();
    X509 *pX509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    std::vector<BYTE> keyId;
    const ASN1_OCTET_STRING *pKeyId = pX509 ? X509_get0_subject_key_id(pX509) : nullptr;
    if (pKeyId != nullptr)
        keyId.assign(ASN1_STRING_get0_data(pKeyId), ASN1_STRING_get0_data(pKeyId) + ASN1_STRING_length(pKeyId));
    X509_free(pX509);
    return keyId;
}

// NP_Install as a browser may call it: on a thread that never set up COM.
DWORD WINAPI InstallOnOwnThread(LPVOID pvLibrary)
{
    return static_cast<DWORD>(static_cast<testbrowser::PluginLibrary *>(pvLibrary)->Install());
}

class Install : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(m_library.Load(L"npSigwell.dll"));
        ASSERT_TRUE(MakeRootCertificatesKey());
    }
    void TearDown() override
    {
        FreeLibrary(m_library.hModule);
        CoUninitialize();
    }

    testbrowser::PluginLibrary m_library;
};

TEST_F(Install, DiscardedLeaveAndChainsArrive)
{
    // The first RSA row (an intermediate) and the first SM2 root row.
    auto rsaCA = MakeCertificate("CN=Sigwell RSA Signing CA, O=Sigwell Lorvin, C=CN",
                                 "CN=Sigwell RSA Root CA, O=Sigwell Lorvin, C=CN", "5A3C09E1");
    auto sm2Root = MakeCertificate("CN=Sigwell SM2 Root CA, O=Sigwell Lorvin, C=CN",
                                   "CN=Sigwell SM2 Root CA, O=Sigwell Lorvin, C=CN", "2E90B5A7");
    const std::wstring sm2RootKey = L"0D6A3E9F1C24B7508E3F9A2D6C1B40E7F58A3C19";
    ASSERT_TRUE(AddToStore(LM, rsaCA));
    ASSERT_TRUE(AddToStore(CU, rsaCA));
    ASSERT_TRUE(AddToStore(LM, sm2Root));
    WriteRootBlob(sm2RootKey, {1, 2, 3});

    auto operation = Manifest("ca_chain_operation.txt");
    auto test = Manifest("ca_chain_test.txt");
    ASSERT_EQ(11u, operation.size());
    ASSERT_EQ(10u, test.size());
    std::vector<std::pair<std::string, std::wstring>> all(operation);
    all.insert(all.end(), test.begin(), test.end());
    for (const auto &entry : all) {
        DeleteRootKey(entry.second);
        RemoveThumbprint(LM, L"CA", entry.second);
    }

    const std::string trace = ProgramFolder() + "np_install_trace.txt";
    DeleteFileA(trace.c_str());
    _putenv_s("SIGWELL_TRACE_SINK", trace.c_str());
    NPNetscapeFuncs funcs = testbrowser::BrowserFuncs();
    ASSERT_EQ(NPERR_NO_ERROR, m_library.Initialize(&funcs));
    HANDLE hThread = CreateThread(nullptr, 0, InstallOnOwnThread, &m_library, 0, nullptr);
    ASSERT_NE(nullptr, hThread);
    WaitForSingleObject(hThread, INFINITE);
    DWORD dwInstalled = 1;
    GetExitCodeThread(hThread, &dwInstalled);
    CloseHandle(hThread);
    m_library.Shutdown();
    EXPECT_EQ(0u, dwInstalled);
    _putenv_s("SIGWELL_TRACE_SINK", "");

    // Each of the four steps leaves its status line.
    std::ifstream in(trace);
    const std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char *pszLabel :
         {"DeleteRSADiscardCert", "DeleteSM2DiscardCert", "ImportCertificateChainfromResoure(RSA Operation)",
          "ImportCertificateChainfromResoure(RSA Test)"})
        EXPECT_NE(std::string::npos, lines.find("\tTraceHelper\t" + std::string(pszLabel) + "\t0x00000000"))
            << pszLabel;

    EXPECT_FALSE(StoreHolds(LM, rsaCA));
    EXPECT_FALSE(StoreHolds(CU, rsaCA));
    EXPECT_FALSE(StoreHolds(LM, sm2Root));
    EXPECT_FALSE(RootKeyExists(sm2RootKey));
    for (const auto &entry : all) {
        if (entry.first == "root") {
            // Windows reads the machine's root store from this key; Wine
            // fills its root store from the host's certificates instead.
            const std::vector<BYTE> element = RootBlob(entry.second);
            EXPECT_EQ(entry.second, Thumbprint(CertificateOfElement(element)));
            const std::vector<BYTE> keyId = SubjectKeyId(CertificateOfElement(element));
            EXPECT_FALSE(keyId.empty());
            EXPECT_EQ(keyId, PropertyOfElement(element, 20));
            EXPECT_FALSE(StoreHoldsThumbprint(LM, L"CA", entry.second));
        } else {
            EXPECT_TRUE(StoreHoldsThumbprint(LM, L"CA", entry.second));
        }
    }
}

} // namespace

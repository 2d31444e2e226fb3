#include "TestCspSetup.h"

#include <fstream>

namespace testcsp {

namespace {

const wchar_t kProviderKey[] = L"Software\\Microsoft\\Cryptography\\Defaults\\Provider\\";

std::string ProgramFolder()
{
    char szPath[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string path(szPath, cch);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string PathOrEmpty(const std::string &relativePath)
{
    return relativePath.empty() ? std::string() : BesideProgram(relativePath);
}

} // namespace

std::string BesideProgram(const std::string &relativePath)
{
    return ProgramFolder() + relativePath;
}

RegisteredProvider::RegisteredProvider(const std::wstring &providerName)
    : m_keyPath(std::wstring(kProviderKey) + providerName)
{
    wchar_t wszDll[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameW(nullptr, wszDll, MAX_PATH);
    std::wstring dll(wszDll, cch);
    dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"testcsp.dll";
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return;
    const DWORD dwType = PROV_RSA_FULL;
    m_bRegistered = RegSetValueExW(hKey, L"Image Path", 0, REG_SZ, reinterpret_cast<const BYTE *>(dll.c_str()),
                                   static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
        RegSetValueExW(hKey, L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dwType), sizeof dwType) ==
            ERROR_SUCCESS;
    RegCloseKey(hKey);
}

RegisteredProvider::~RegisteredProvider()
{
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_keyPath.c_str());
}

ProviderConfigFile::ProviderConfigFile(const std::string &fileName) : m_path(BesideProgram(fileName))
{
}

void ProviderConfigFile::AddContainer(const std::string &provider, const std::string &container)
{
    m_text += "container|" + provider + "|" + container + "\n";
}

void ProviderConfigFile::AddKey(const std::string &provider, const std::string &container, DWORD dwKeySpec,
                                const std::string &certificate, const std::string &privateKey, const std::string &flags)
{
    m_text += "key|" + provider + "|" + container + "|" + std::to_string(dwKeySpec) + "|" + PathOrEmpty(certificate) +
        "|" + PathOrEmpty(privateKey) + "|" + flags + "\n";
}

void ProviderConfigFile::AddTestKey(const std::string &provider, const std::string &container,
                                    const std::string &certificate, const std::string &flags)
{
    AddKey(provider, container, AT_SIGNATURE, "testcerts\\" + certificate,
           certificate == "sm2.der" ? "testcerts\\sm2.key" : "testcerts\\rsa.key", flags);
}

void ProviderConfigFile::AddKeyId(const std::string &provider, const std::string &identifier)
{
    m_text += "keyid|" + provider + "|" + identifier + "\n";
}

void ProviderConfigFile::AddProviderRecord(const std::string &kind, const std::string &provider,
                                           const std::string &value)
{
    m_text += kind + "|" + provider + (value.empty() ? "" : "|" + value) + "\n";
}

bool ProviderConfigFile::Write() const
{
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    out << m_text;
    out.close();
    return out.good() && SetEnvironmentVariableA("SIGWELL_TESTCSP_CONFIG", m_path.c_str());
}

} // namespace testcsp

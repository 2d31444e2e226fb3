// What a test does to use the test provider (testcsp.dll):
//
//   1. CMake: testcsp_use(<program> <ctest name>) copies the DLL beside the
//      program and generates keys and certificates into "testcerts" beside
//      it before the test (make_test_certs.sh lists them).
//   2. RegisteredProvider registers the DLL under a provider name (type 1)
//      in HKLM for the life of the object; pick names unique to the test
//      program, since programs run in parallel in one Wine prefix.
//   3. ProviderConfigFile lists each provider's containers, the keys of each
//      container (key spec, certificate, private key, misbehaviour flags;
//      see CspConfig.h) and its token identifiers; Write() saves the file
//      and points SIGWELL_TESTCSP_CONFIG at it. The provider reads the file
//      at every CryptAcquireContext, so a test may rewrite it at any time.
//   4. SIGWELL_TESTCSP_LOG, if set, names a file the provider appends its
//      calls to ("acquire|...", "hash|<length>", "sign|<key spec>").
#pragma once

#include <windows.h>

#include <string>

namespace testcsp {

// A file beside the running program, e.g. L"testcerts\\rsa.key".
std::string BesideProgram(const std::string &relativePath);

class RegisteredProvider {
public:
    explicit RegisteredProvider(const std::wstring &providerName);
    ~RegisteredProvider();
    RegisteredProvider(const RegisteredProvider &) = delete;
    RegisteredProvider &operator=(const RegisteredProvider &) = delete;

    bool IsRegistered() const { return m_bRegistered; }

private:
    std::wstring m_keyPath;
    bool m_bRegistered = false;
};

class ProviderConfigFile {
public:
    explicit ProviderConfigFile(const std::string &fileName);

    void AddContainer(const std::string &provider, const std::string &container);
    // Paths relative to the program's folder; empty for none.
    void AddKey(const std::string &provider, const std::string &container, DWORD dwKeySpec,
                const std::string &certificate, const std::string &privateKey,
                const std::string &flags = std::string());
    // A signature key of the generated test keys: the certificate file in
    // "testcerts" (sm2.der signs with sm2.key, the others with rsa.key).
    void AddTestKey(const std::string &provider, const std::string &container, const std::string &certificate,
                    const std::string &flags = std::string());
    void AddKeyId(const std::string &provider, const std::string &identifier);
    // A provider-wide record such as "silentfail" with its value, if any.
    void AddProviderRecord(const std::string &kind, const std::string &provider,
                           const std::string &value = std::string());
    void Clear() { m_text.clear(); }
    bool Write() const;

private:
    std::string m_path;
    std::string m_text;
};

} // namespace testcsp

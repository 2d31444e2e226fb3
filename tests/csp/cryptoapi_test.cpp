// KeltoCSP as CryptoAPI programs see it: loaded by advapi32 from its
// registration, over a simulated token with an SM2 key and certificate,
// the PIN typed into the real dialog by the UI driver, and signatures
// checked by OpenSSL against the token's certificate.
#include "../tokensim/TokenFixture.h"
#include "MessageTable.h"
#include "RsaKeyBlob.h"
#include "UiDriver.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <wincrypt.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kProvider[] = "VESK FOR LORVIN CSP v1.1.0";
constexpr wchar_t kProviderKey[] = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\VESK FOR LORVIN CSP v1.1.0";
constexpr char kContainer[] = "Kelto CSP Container";
constexpr char kSerial[] = "SN-CAPI";
constexpr ALG_ID kAlgSm3 = 0x800F;
constexpr DWORD kSm2SignatureLen = 64;
constexpr DWORD kBusy = 170;
constexpr DWORD kPinLocked = 212;
constexpr DWORD kCancelled = 1223;
constexpr char kMessage[] = "<T><D><M>pay 100 to Lorvin</M></D></T>";

std::wstring ImagePath()
{
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kProviderKey, L"Image Path", RRF_RT_REG_SZ, nullptr, path, &size) != 0)
        return L"";
    return path;
}

// One token with a signature key pair, its certificate and an exchange
// pair of the same algorithm.
void ProvisionToken(std::uint32_t maxTries, const tokensim::KeyOptions& signatureKey)
{
    tokentest::EditStore([&](tokensim::State& s) {
        tokensim::TokenOptions token;
        token.serial = kSerial;
        token.maxTries = maxTries;
        ASSERT_EQ(tokensim::AddToken(s, token), "");
        ASSERT_EQ(tokensim::AddKeyPair(s, kSerial, signatureKey), "");
        tokensim::KeyOptions exchange = signatureKey;
        exchange.signature = false;
        ASSERT_EQ(tokensim::AddKeyPair(s, kSerial, exchange), "");
        ASSERT_EQ(tokensim::AddCertificate(s, kSerial, {}), "");
    });
}

// The exports called directly, to see their own argument checks rather
// than advapi32's.
class Exports : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module = LoadLibraryW(ImagePath().c_str());
        ASSERT_NE(m_module, nullptr) << "KeltoCSP is not registered in the test prefix";
    }
    void TearDown() override
    {
        if (m_module) FreeLibrary(m_module);
    }
    template <class Fn>
    Fn Export(const char* name)
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }
    HMODULE m_module = nullptr;
};

TEST_F(Exports, EachNameHasItsOrdinal)
{
    const char* names[] = {"CPGetCSPName",  "CPAcquireContext", "CPCreateHash",  "CPDecrypt",        "CPDeriveKey",
                           "CPDestroyHash", "CPDestroyKey",     "CPEncrypt",     "CPExportKey",      "CPGenKey",
                           "CPGenRandom",   "CPGetHashParam",   "CPGetKeyParam", "CPGetProvParam",   "CPGetUserKey",
                           "CPHashData",    "CPHashSessionKey", "CPImportKey",   "CPReleaseContext", "CPSetHashParam",
                           "CPSetKeyParam", "CPSetProvParam",   "CPSignHash",    "CPVerifySignature"};
    WORD ordinal = 2;
    for (const char* name : names) {
        FARPROC byName = GetProcAddress(m_module, name);
        EXPECT_NE(byName, nullptr) << name;
        EXPECT_EQ(byName, GetProcAddress(m_module, MAKEINTRESOURCEA(ordinal))) << name;
        ++ordinal;
    }
}

TEST_F(Exports, NameIsCopiedWithItsZero)
{
    auto getName = Export<BOOL(WINAPI*)(wchar_t*)>("CPGetCSPName");
    wchar_t name[32];
    std::wmemset(name, L'#', 32);
    SetLastError(1234);
    EXPECT_TRUE(getName(name));
    EXPECT_STREQ(name, L"VESK FOR LORVIN CSP v1.1.0");
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST_F(Exports, MissingRequiredPointersGiveInvalidParameter)
{
    typedef BOOL(WINAPI * Two)(ULONG_PTR, ULONG_PTR);
    typedef BOOL(WINAPI * Four)(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR);
    typedef BOOL(WINAPI * Five)(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR);
    typedef BOOL(WINAPI * Six)(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR);
    typedef BOOL(WINAPI * Seven)(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR);
    typedef BOOL(WINAPI * Eight)(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR,
                                 ULONG_PTR);
    typedef BOOL(WINAPI * Three)(ULONG_PTR, ULONG_PTR, ULONG_PTR);
    // A live-looking handle that none of these calls may follow: each one
    // lacks another required pointer.
    const ULONG_PTR h = 0x1000;
    DWORD length = 64;
    const ULONG_PTR len = reinterpret_cast<ULONG_PTR>(&length);
    struct Case {
        const char* name;
        std::function<BOOL()> call;
    };
    std::vector<Case> cases = {
        {"CPAcquireContext", [&] { return Export<Four>("CPAcquireContext")(0, 0, 0, 0); }},
        {"CPCreateHash", [&] { return Export<Five>("CPCreateHash")(h, kAlgSm3, 0, 0, 0); }},
        {"CPDecrypt", [&] { return Export<Seven>("CPDecrypt")(h, 0, 0, 0, 0, 0, 0); }},
        {"CPDeriveKey", [&] { return Export<Five>("CPDeriveKey")(h, CALG_RC4, 0, 0, h); }},
        {"CPDestroyHash", [&] { return Export<Two>("CPDestroyHash")(h, 0); }},
        {"CPDestroyKey", [&] { return Export<Two>("CPDestroyKey")(0, h); }},
        {"CPEncrypt", [&] { return Export<Eight>("CPEncrypt")(h, 0, 0, 0, 0, 0, 0, 0); }},
        {"CPExportKey", [&] { return Export<Seven>("CPExportKey")(h, 0, 0, 0, 0, 0, 0); }},
        {"CPGenKey", [&] { return Export<Four>("CPGenKey")(h, CALG_RC4, 0, 0); }},
        {"CPGenRandom", [&] { return Export<Three>("CPGenRandom")(h, 16, 0); }},
        {"CPGetHashParam", [&] { return Export<Six>("CPGetHashParam")(h, 0, HP_HASHVAL, 0, 0, 0); }},
        {"CPGetKeyParam", [&] { return Export<Six>("CPGetKeyParam")(0, h, KP_ALGID, 0, 0, 0); }},
        {"CPGetProvParam", [&] { return Export<Five>("CPGetProvParam")(0, PP_NAME, 0, 0, 0); }},
        {"CPGetUserKey", [&] { return Export<Three>("CPGetUserKey")(h, AT_SIGNATURE, 0); }},
        {"CPHashData", [&] { return Export<Five>("CPHashData")(h, h, 0, 4, 0); }},
        {"CPHashSessionKey", [&] { return Export<Four>("CPHashSessionKey")(h, h, 0, 0); }},
        {"CPImportKey", [&] { return Export<Six>("CPImportKey")(h, 0, 8, 0, 0, h); }},
        {"CPSetHashParam", [&] { return Export<Five>("CPSetHashParam")(h, h, HP_HASHVAL, 0, 0); }},
        {"CPSetKeyParam", [&] { return Export<Five>("CPSetKeyParam")(h, h, KP_IV, 0, 0); }},
        {"CPSetProvParam", [&] { return Export<Four>("CPSetProvParam")(0, PP_SIGNATURE_PIN, 0, 0); }},
        {"CPSignHash", [&] { return Export<Seven>("CPSignHash")(h, 0, AT_SIGNATURE, 0, 0, 0, len); }},
        {"CPVerifySignature", [&] { return Export<Seven>("CPVerifySignature")(h, h, 0, 64, h, 0, 0); }},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << c.name;
    }
}

TEST_F(Exports, ReleaseOfNoContextSucceeds)
{
    auto release = Export<BOOL(WINAPI*)(HCRYPTPROV, DWORD)>("CPReleaseContext");
    SetLastError(1234);
    EXPECT_TRUE(release(0, 0));
    EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(Exports, ForeignHandleIsRefusedNotFollowed)
{
    auto genRandom = Export<BOOL(WINAPI*)(HCRYPTPROV, DWORD, BYTE*)>("CPGenRandom");
    auto getUserKey = Export<BOOL(WINAPI*)(HCRYPTPROV, DWORD, HCRYPTKEY*)>("CPGetUserKey");
    std::uint32_t notAContext[64] = {};
    BYTE buffer[16];
    HCRYPTKEY key = 0;
    EXPECT_FALSE(genRandom(reinterpret_cast<HCRYPTPROV>(notAContext), sizeof buffer, buffer));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_UID));
    EXPECT_FALSE(getUserKey(reinterpret_cast<HCRYPTPROV>(notAContext), AT_SIGNATURE, &key));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_UID));
}

// Contexts through advapi32 over a fresh token store.
class CryptoApi : public tokentest::StoreFixture {
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        ProvisionToken(MaxTries(), SignatureKey());
    }
    void TearDown() override
    {
        for (HCRYPTHASH hash : m_hashes) CryptDestroyHash(hash);
        for (HCRYPTKEY key : m_keys) CryptDestroyKey(key);
        for (HCRYPTPROV context : m_contexts) CryptReleaseContext(context, 0);
        StoreFixture::TearDown();
    }
    virtual std::uint32_t MaxTries() const { return 6; }
    virtual tokensim::KeyOptions SignatureKey() const { return {}; }

    HCRYPTPROV Acquire(DWORD flags = 0)
    {
        HCRYPTPROV context = 0;
        EXPECT_TRUE(CryptAcquireContextA(&context, kContainer, kProvider, PROV_RSA_FULL, flags)) << GetLastError();
        if (context) m_contexts.push_back(context);
        return context;
    }
    HCRYPTHASH HashOf(HCRYPTPROV context, const std::string& message, ALG_ID algId = kAlgSm3)
    {
        HCRYPTHASH hash = 0;
        EXPECT_TRUE(CryptCreateHash(context, algId, 0, 0, &hash)) << GetLastError();
        EXPECT_TRUE(
            CryptHashData(hash, reinterpret_cast<const BYTE*>(message.data()), static_cast<DWORD>(message.size()), 0));
        if (hash) m_hashes.push_back(hash);
        return hash;
    }
    HCRYPTKEY UserKey(HCRYPTPROV context, DWORD spec)
    {
        HCRYPTKEY key = 0;
        EXPECT_TRUE(CryptGetUserKey(context, spec, &key)) << GetLastError();
        if (key) m_keys.push_back(key);
        return key;
    }
    std::vector<BYTE> Certificate(HCRYPTPROV context, DWORD spec = AT_SIGNATURE)
    {
        HCRYPTKEY key = UserKey(context, spec);
        DWORD length = 0;
        EXPECT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &length, 0));
        std::vector<BYTE> cert(length);
        EXPECT_TRUE(CryptGetKeyParam(key, KP_CERTIFICATE, cert.data(), &length, 0)) << GetLastError();
        cert.resize(length);
        return cert;
    }

    std::vector<HCRYPTPROV> m_contexts;
    std::vector<HCRYPTKEY> m_keys;
    std::vector<HCRYPTHASH> m_hashes;
};

TEST_F(CryptoApi, ProviderNameAndTypeAsRegistered)
{
    HCRYPTPROV context = Acquire();
    char name[64] = {};
    DWORD length = sizeof name;
    ASSERT_TRUE(CryptGetProvParam(context, PP_NAME, reinterpret_cast<BYTE*>(name), &length, 0));
    EXPECT_STREQ(name, kProvider);
    EXPECT_EQ(GetLastError(), 0u);
}

// CryptoApiClient.exe, a program that loads nothing but advapi32, with its
// arguments: its exit code, or 0xFFFFFFFF when it did not end in time.
DWORD RunClient(const std::wstring& arguments, DWORD timeoutMs)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring client(path, length);
    client = client.substr(0, client.find_last_of(L"\\/") + 1) + L"CryptoApiClient.exe";
    std::wstring command = L"\"" + client + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(client.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return GetLastError();
    DWORD exitCode = 0xFFFFFFFF;
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 9);
        WaitForSingleObject(process.hProcess, 5000);
    } else {
        GetExitCodeProcess(process.hProcess, &exitCode);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

// The first acquire of a fresh process: advapi32 unloads the provider
// right after it fails, and nothing on the way out may change the error,
// so that "on NTE_BAD_KEYSET, acquire with CRYPT_NEWKEYSET" works.
TEST_F(CryptoApi, FailedFirstAcquireKeepsItsError)
{
    EXPECT_EQ(RunClient(L"missing", 20000), DWORD(NTE_BAD_KEYSET));
    EXPECT_EQ(RunClient(L"silent-delete", 20000), DWORD(NTE_SILENT_CONTEXT));
}

// The token library reads no OpenSSL configuration of the calling
// program's: one that would leave it without algorithms (only the null
// provider) changes nothing.
TEST_F(CryptoApi, CallersOpenSslConfigurationIsNotRead)
{
    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    std::wstring path = std::wstring(folder) + L"sigwell-null-provider.cnf";
    const char config[] = "openssl_conf = init\n[init]\nproviders = providers\n"
                          "[providers]\nnull = null_provider\n[null_provider]\nactivate = 1\n";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, config, sizeof config - 1, &written, nullptr);
    CloseHandle(file);
    SetEnvironmentVariableW(L"OPENSSL_CONF", path.c_str());
    DWORD exitCode = RunClient(L"", 20000);
    SetEnvironmentVariableW(L"OPENSSL_CONF", nullptr);
    DeleteFileW(path.c_str());
    EXPECT_EQ(exitCode, 0u);
}

// A cached PIN the token refuses (it was changed elsewhere) is presented
// once and then forgotten: it never spends another of the user's tries.
TEST_F(CryptoApi, RefusedCachedPinIsNeverPresentedAgain)
{
    HCRYPTPROV context = 0;
    ASSERT_TRUE(CryptAcquireContextA(&context, "new keys", kProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET | CRYPT_SILENT))
        << GetLastError();
    m_contexts.push_back(context);
    ASSERT_TRUE(CryptSetProvParam(context, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>("12345678"), 0));
    // A second context with its own copy of the PIN.
    HCRYPTPROV other = 0;
    ASSERT_TRUE(
        CryptAcquireContextA(&other, "other new keys", kProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET | CRYPT_SILENT))
        << GetLastError();
    m_contexts.push_back(other);
    tokentest::EditStore([](tokensim::State& s) { s.FindBySerial(kSerial)->user.value = "87654321"; });
    for (HCRYPTPROV caller : {context, context, context, other, other}) {
        HCRYPTKEY key = 0;
        EXPECT_FALSE(CryptGenKey(caller, AT_SIGNATURE, 0, &key));
        EXPECT_EQ(GetLastError(), DWORD(NTE_SILENT_CONTEXT));
    }
    tokentest::EditStore([](tokensim::State& s) { EXPECT_EQ(s.FindBySerial(kSerial)->user.triesLeft, 5u); });
}

// The removal watch thread runs the provider's code: after the last
// release the provider stays loaded rather than being unmapped under it.
TEST_F(CryptoApi, ProviderStaysLoadedUnderItsWatchThread)
{
    HCRYPTPROV context = Acquire();
    ASSERT_NE(context, 0u);
    ASSERT_TRUE(CryptReleaseContext(context, 0));
    m_contexts.clear();
    Sleep(200);
    std::wstring path = ImagePath();
    EXPECT_NE(GetModuleHandleW(path.substr(path.find_last_of(L"\\/") + 1).c_str()), nullptr);
    context = Acquire();
    EXPECT_NE(context, 0u);
}

TEST_F(CryptoApi, RandomLengthsAtTheEdges)
{
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> buffer(1025, 0);
    SetLastError(1234);
    EXPECT_TRUE(CryptGenRandom(context, 0, buffer.data()));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_FALSE(CryptGenRandom(context, 1025, buffer.data()));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_LEN));
    ASSERT_TRUE(CryptGenRandom(context, 1024, buffer.data()));
    EXPECT_EQ(GetLastError(), 0u);
    int zeros = 0;
    for (int i = 0; i < 1024; ++i) zeros += buffer[i] == 0;
    EXPECT_LT(zeros, 32) << "the token did not fill the buffer";
    EXPECT_EQ(buffer[1024], 0) << "written past the length";
}

TEST_F(CryptoApi, KeyParameterFlagsAreRefusedEvenForAGoodKey)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY key = UserKey(context, AT_SIGNATURE);
    DWORD value = 0, length = sizeof value;
    EXPECT_FALSE(CryptGetKeyParam(key, KP_ALGID, reinterpret_cast<BYTE*>(&value), &length, 1));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_FLAGS));
    EXPECT_TRUE(CryptGetKeyParam(key, KP_ALGID, reinterpret_cast<BYTE*>(&value), &length, 0));
    EXPECT_EQ(value, 0x3E00u);
}

TEST_F(CryptoApi, Rc4RoundTripCoversEveryByte)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(context, CALG_RC4, 0, &key)) << GetLastError();
    m_keys.push_back(key);
    std::vector<BYTE> plain(70000);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<BYTE>(i * 7);
    std::vector<BYTE> data = plain;
    DWORD length = static_cast<DWORD>(data.size());
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, length)) << GetLastError();
    ASSERT_EQ(length, plain.size());
    size_t same = 0, tailSame = 0;
    for (size_t i = 0; i < plain.size(); ++i) same += data[i] == plain[i];
    for (size_t i = plain.size() - 1000; i < plain.size(); ++i) tailSame += data[i] == plain[i];
    EXPECT_LT(same, plain.size() / 100);
    EXPECT_LT(tailSame, 20u);
    ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, data.data(), &length)) << GetLastError();
    EXPECT_EQ(data, plain);
}

TEST_F(CryptoApi, AesOnTheTokenRoundTrips)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(context, CALG_AES_128, 0, &key)) << GetLastError();
    m_keys.push_back(key);
    std::vector<BYTE> plain(100, 0x5A);
    std::vector<BYTE> data = plain;
    data.resize(116);
    DWORD length = 100;
    DWORD needed = length;
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &needed, 0));
    EXPECT_EQ(needed, 116u);
    EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, 115));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BUFFER_TOO_SMALL));
    length = 100;
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, 116)) << GetLastError();
    EXPECT_EQ(length, 112u);
    ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, data.data(), &length)) << GetLastError();
    ASSERT_EQ(length, 100u);
    data.resize(length);
    EXPECT_EQ(data, plain);
}

TEST_F(CryptoApi, SignatureKeyDoesNotEncrypt)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY key = UserKey(context, AT_SIGNATURE);
    BYTE data[200] = {1, 2, 3};
    DWORD length = 3;
    EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, data, &length, sizeof data));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_KEY));
}

// Signatures with the PIN dialog worked by the UI driver.
class Signing : public CryptoApi {
protected:
    void SetUp() override
    {
        SKIP_OR_FAIL_WITHOUT_DISPLAY();
        CryptoApi::SetUp();
    }
    // Signs the message's SM3 hash while the driver works the prompt.
    BOOL Sign(HCRYPTPROV context, const std::wstring& steps, std::vector<BYTE>* signature, DriverRun* run, DWORD* error,
              ALG_ID algId = kAlgSm3, DWORD room = kSm2SignatureLen, DWORD spec = AT_SIGNATURE)
    {
        HCRYPTHASH hash = HashOf(context, kMessage, algId);
        CUiDriver driver(L"PinDialogDriver.exe");
        EXPECT_TRUE(driver.Start(L"--timeout 20 " + steps));
        driver.GuardThreadWindows(GetCurrentThreadId());
        signature->assign(room, 0);
        DWORD length = room;
        BOOL signed_ = CryptSignHashW(hash, spec, nullptr, 0, signature->data(), &length);
        *error = GetLastError();
        signature->resize(signed_ ? length : 0);
        *run = driver.Finish();
        return signed_;
    }
};

// The default SM2 signer identifier, as the token's Z value uses it.
constexpr char kSm2Id[] = "1234567812345678";

// CryptoAPI gives r then s, each little-endian.
bool VerifiedByOpenSsl(const std::vector<BYTE>& certificate, const std::vector<BYTE>& signature)
{
    if (signature.size() != kSm2SignatureLen) return false;
    const unsigned char* p = certificate.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())),
                                                     X509_free);
    if (!cert) return false;
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> rs(ECDSA_SIG_new(), ECDSA_SIG_free);
    BIGNUM* r = BN_lebin2bn(signature.data(), 32, nullptr);
    BIGNUM* s = BN_lebin2bn(signature.data() + 32, 32, nullptr);
    if (!key || !rs || !r || !s || !ECDSA_SIG_set0(rs.get(), r, s)) return false;
    unsigned char* der = nullptr;
    int derLen = i2d_ECDSA_SIG(rs.get(), &der);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    bool ok = derLen > 0 && md && pctx && EVP_PKEY_CTX_set1_id(pctx, kSm2Id, sizeof kSm2Id - 1) > 0;
    if (ok) EVP_MD_CTX_set_pkey_ctx(md.get(), pctx);
    ok = ok && EVP_DigestVerifyInit_ex(md.get(), nullptr, "SM3", nullptr, nullptr, key, nullptr) > 0 &&
        EVP_DigestVerify(md.get(), der, derLen, reinterpret_cast<const unsigned char*>(kMessage),
                         sizeof kMessage - 1) == 1;
    EVP_MD_CTX_set_pkey_ctx(md.get(), nullptr);
    EVP_PKEY_CTX_free(pctx);
    OPENSSL_free(der);
    return ok;
}

std::string WrongPinText(int triesLeft)
{
    wchar_t text[1024];
    wsprintfW(text, GetMessageTable()->texts[MSG_WRONG_PIN], triesLeft);
    return Utf8(text);
}

TEST_F(Signing, TypedPinSignsAndOpenSslVerifies)
{
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> signature;
    DriverRun run;
    DWORD error = 0;
    ASSERT_TRUE(Sign(context, L"pin type=12345678 ok gone", &signature, &run, &error)) << error << run.output;
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(error, 0u);
    std::vector<BYTE> certificate = Certificate(context);
    EXPECT_TRUE(VerifiedByOpenSsl(certificate, signature));
    std::vector<BYTE> changed = signature;
    changed[40] ^= 0x80;
    EXPECT_FALSE(VerifiedByOpenSsl(certificate, changed));

    // The provider verifies its own signature on the token, and refuses a
    // changed one.
    HCRYPTKEY key = UserKey(context, AT_SIGNATURE);
    EXPECT_TRUE(CryptVerifySignatureW(HashOf(context, kMessage), signature.data(), kSm2SignatureLen, key, nullptr, 0))
        << GetLastError();
    signature[5] ^= 1;
    EXPECT_FALSE(CryptVerifySignatureW(HashOf(context, kMessage), signature.data(), kSm2SignatureLen, key, nullptr, 0));
}

// With both SM2 pairs the exchange key signs over its own Z value.
TEST_F(Signing, Sm2ExchangeKeySignsOverItsOwnZValue)
{
    tokentest::EditStore([](tokensim::State& s) {
        tokensim::CertOptions exchange;
        exchange.signature = false;
        ASSERT_EQ(tokensim::AddCertificate(s, kSerial, exchange), "");
    });
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> signature;
    DriverRun run;
    DWORD error = 0;
    ASSERT_TRUE(Sign(context, L"pin type=12345678 ok gone", &signature, &run, &error, kAlgSm3, kSm2SignatureLen,
                     AT_KEYEXCHANGE))
        << error << run.output;
    EXPECT_TRUE(VerifiedByOpenSsl(Certificate(context, AT_KEYEXCHANGE), signature));
    EXPECT_FALSE(VerifiedByOpenSsl(Certificate(context, AT_SIGNATURE), signature));
    for (DWORD keySpec : {AT_KEYEXCHANGE, AT_SIGNATURE}) {
        EXPECT_EQ(CryptVerifySignatureW(HashOf(context, kMessage), signature.data(), kSm2SignatureLen,
                                        UserKey(context, keySpec), nullptr, 0),
                  keySpec == AT_KEYEXCHANGE)
            << keySpec;
    }
}

TEST_F(Signing, WrongPinShowsTriesLeftThenSigns)
{
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> signature;
    DriverRun run;
    DWORD error = 0;
    ASSERT_TRUE(Sign(context, L"pin type=11111111 ok message pin type=12345678 ok gone", &signature, &run, &error))
        << error << run.output;
    EXPECT_EQ(run.messages, std::vector<std::string> {WrongPinText(5)});
    EXPECT_TRUE(VerifiedByOpenSsl(Certificate(context), signature));
}

TEST_F(Signing, CancelGivesCancelledAndReleasesTheLocks)
{
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> signature;
    DriverRun run;
    DWORD error = 0;
    EXPECT_FALSE(Sign(context, L"pin type=1234 cancel gone", &signature, &run, &error));
    EXPECT_EQ(error, kCancelled);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    // Neither the provider lock nor the signing flag was left behind.
    Acquire();
}

TEST_F(Signing, SilentContextNeverPrompts)
{
    HCRYPTPROV context = Acquire(CRYPT_SILENT);
    HCRYPTHASH hash = HashOf(context, kMessage);
    BYTE signature[kSm2SignatureLen];
    DWORD length = sizeof signature;
    EXPECT_FALSE(CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, signature, &length));
    EXPECT_EQ(GetLastError(), DWORD(NTE_SILENT_CONTEXT));
}

TEST_F(Signing, SizeQueryNeedsNoPin)
{
    HCRYPTPROV context = Acquire();
    HCRYPTHASH hash = HashOf(context, kMessage);
    DWORD length = 0;
    ASSERT_TRUE(CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, nullptr, &length));
    EXPECT_EQ(length, kSm2SignatureLen);
    BYTE small[10];
    length = sizeof small;
    EXPECT_FALSE(CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, small, &length));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BUFFER_TOO_SMALL));
    EXPECT_FALSE(CryptSignHashW(hash, 3, nullptr, 0, nullptr, &length));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_TYPE));
}

TEST_F(Signing, Sm2ExchangeKeyDecryptsAfterThePin)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY key = UserKey(context, AT_KEYEXCHANGE);
    const std::vector<BYTE> plain = {'s', 'e', 's', 's', 'i', 'o', 'n', ' ', 'k', 'e', 'y', 0, 1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<BYTE> data = plain;
    data.resize(plain.size() + 97);
    DWORD length = static_cast<DWORD>(plain.size());
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, static_cast<DWORD>(data.size()))) << GetLastError();
    // C1 without its point-format byte, C3 and C2.
    ASSERT_EQ(length, plain.size() + 96);

    CUiDriver driver(L"PinDialogDriver.exe");
    ASSERT_TRUE(driver.Start(L"--timeout 20 pin type=12345678 ok gone"));
    driver.GuardThreadWindows(GetCurrentThreadId());
    BOOL decrypted = CryptDecrypt(key, 0, TRUE, 0, data.data(), &length);
    DWORD error = GetLastError();
    DriverRun run = driver.Finish();
    ASSERT_TRUE(decrypted) << error << run.output;
    ASSERT_EQ(length, plain.size());
    data.resize(length);
    EXPECT_EQ(data, plain);
}

class RsaSigning : public Signing {
protected:
    tokensim::KeyOptions SignatureKey() const override
    {
        tokensim::KeyOptions rsa;
        rsa.algorithm = 1;
        rsa.bits = 1024;
        return rsa;
    }
    // A certificate for the exchange pair too, and another container with
    // an RSA signature pair alone.
    static void AddExchangeCertificateAndContainer(const std::string& container)
    {
        tokentest::EditStore([&](tokensim::State& s) {
            tokensim::CertOptions exchange;
            exchange.signature = false;
            ASSERT_EQ(tokensim::AddCertificate(s, kSerial, exchange), "");
            tokensim::KeyOptions alone;
            alone.container = container;
            alone.algorithm = 1;
            alone.bits = 1024;
            ASSERT_EQ(tokensim::AddKeyPair(s, kSerial, alone), "");
        });
    }
};

// A CryptoAPI RSA signature is the PKCS #1 v1.5 signature little-endian.
bool RsaVerifiedByOpenSsl(const std::vector<BYTE>& certificate, std::vector<BYTE> signature)
{
    std::reverse(signature.begin(), signature.end());
    const unsigned char* p = certificate.data();
    std::unique_ptr<X509, decltype(&X509_free)> cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())),
                                                     X509_free);
    EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return key && md && EVP_DigestVerifyInit_ex(md.get(), nullptr, "SHA256", nullptr, nullptr, key, nullptr) > 0 &&
        EVP_DigestVerify(md.get(), signature.data(), signature.size(), reinterpret_cast<const unsigned char*>(kMessage),
                         sizeof kMessage - 1) == 1;
}

TEST_F(RsaSigning, Sha256DigestInfoSignedAndOpenSslVerifies)
{
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> signature;
    DriverRun run;
    DWORD error = 0;
    ASSERT_TRUE(Sign(context, L"pin type=12345678 ok gone", &signature, &run, &error, CALG_SHA_256, 128))
        << error << run.output;
    ASSERT_EQ(signature.size(), 128u);
    std::vector<BYTE> certificate = Certificate(context);
    EXPECT_TRUE(RsaVerifiedByOpenSsl(certificate, signature));
    HCRYPTKEY key = UserKey(context, AT_SIGNATURE);
    EXPECT_TRUE(CryptVerifySignatureW(HashOf(context, kMessage, CALG_SHA_256), signature.data(), 128, key, nullptr, 0))
        << GetLastError();
    signature[0] ^= 1;
    EXPECT_FALSE(RsaVerifiedByOpenSsl(certificate, signature));
    EXPECT_FALSE(
        CryptVerifySignatureW(HashOf(context, kMessage, CALG_SHA_256), signature.data(), 128, key, nullptr, 0));
}

// Loaded, used (an RSA signature, an SM2 hash) and unloaded round after
// round, the provider and the token library leave no handles and no memory
// behind.
TEST_F(RsaSigning, UnloadedAfterEveryRoundLeavesNothingBehind)
{
    tokensim::KeyOptions sm2;
    sm2.container = "sm2 keys";
    tokentest::EditStore([&](tokensim::State& s) { ASSERT_EQ(tokensim::AddKeyPair(s, kSerial, sm2), ""); });
    EXPECT_EQ(RunClient(L"rounds", 120000), 0u);
}

// The key spec picks the pair that signs; a pair the container lacks is no
// key, refused before any prompt.
TEST_F(RsaSigning, KeySpecChoosesTheSigningKey)
{
    AddExchangeCertificateAndContainer("signature only");
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> signature;
    DriverRun run;
    DWORD error = 0;
    ASSERT_TRUE(
        Sign(context, L"pin type=12345678 ok gone", &signature, &run, &error, CALG_SHA_256, 128, AT_KEYEXCHANGE))
        << error << run.output;
    EXPECT_TRUE(RsaVerifiedByOpenSsl(Certificate(context, AT_KEYEXCHANGE), signature));
    EXPECT_FALSE(RsaVerifiedByOpenSsl(Certificate(context, AT_SIGNATURE), signature));

    HCRYPTPROV alone = 0;
    ASSERT_TRUE(CryptAcquireContextA(&alone, "signature only", kProvider, PROV_RSA_FULL, CRYPT_SILENT));
    m_contexts.push_back(alone);
    BYTE room[128];
    DWORD length = sizeof room;
    EXPECT_FALSE(CryptSignHashW(HashOf(alone, kMessage, CALG_SHA_256), AT_KEYEXCHANGE, nullptr, 0, room, &length));
    EXPECT_EQ(GetLastError(), DWORD(NTE_NO_KEY));
}

// Runs an operation that asks for the PIN while the driver types it.
BOOL WithPinTyped(const std::function<BOOL()>& operation, DWORD* error, DriverRun* run,
                  const std::wstring& steps = L"pin type=12345678 ok gone")
{
    CUiDriver driver(L"PinDialogDriver.exe");
    EXPECT_TRUE(driver.Start(L"--timeout 20 " + steps));
    driver.GuardThreadWindows(GetCurrentThreadId());
    BOOL done = operation();
    *error = GetLastError();
    *run = driver.Finish();
    return done;
}

// Imports a key blob while the driver types the PIN.
::testing::AssertionResult ImportWithPinTyped(HCRYPTPROV context, const csptest::Bytes& blob, DWORD flags,
                                              HCRYPTKEY* key)
{
    DWORD error = 0;
    DriverRun run;
    if (WithPinTyped(
            [&] { return CryptImportKey(context, blob.data(), static_cast<DWORD>(blob.size()), 0, flags, key); },
            &error, &run))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error << run.output;
}

TEST_F(RsaSigning, KeyImportedFromOpenSslSignsWhatOpenSslVerifies)
{
    HCRYPTPROV context = Acquire();
    csptest::PKey rsa = csptest::NewRsaKey(1024);
    csptest::Bytes blob = csptest::RsaPrivateBlob(rsa.get(), CALG_RSA_SIGN);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(ImportWithPinTyped(context, blob, 0, &key));
    m_keys.push_back(key);

    DWORD error = 0;
    DriverRun run;
    std::vector<BYTE> signature;
    ASSERT_TRUE(Sign(context, L"pin type=12345678 ok gone", &signature, &run, &error, CALG_SHA_256, 128))
        << error << run.output;
    std::reverse(signature.begin(), signature.end());
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    ASSERT_EQ(EVP_DigestVerifyInit_ex(md.get(), nullptr, "SHA256", nullptr, nullptr, rsa.get(), nullptr), 1);
    EXPECT_EQ(EVP_DigestVerify(md.get(), signature.data(), signature.size(),
                               reinterpret_cast<const unsigned char*>(kMessage), sizeof kMessage - 1),
              1);

    // Its public blob carries OpenSSL's modulus little-endian.
    DWORD length = 0;
    ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &length)) << GetLastError();
    std::vector<BYTE> publicBlob(length);
    ASSERT_TRUE(CryptExportKey(key, 0, PUBLICKEYBLOB, 0, publicBlob.data(), &length)) << GetLastError();
    ASSERT_EQ(length, 148u);
    EXPECT_EQ(std::vector<BYTE>(publicBlob.begin() + 20, publicBlob.end()),
              csptest::Component(rsa.get(), OSSL_PKEY_PARAM_RSA_N, 128));
}

TEST_F(CryptoApi, Sm2PublicBlobCarriesTheCertificatesPoint)
{
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> certificate = Certificate(context);
    PCCERT_CONTEXT cert =
        CertCreateCertificateContext(X509_ASN_ENCODING, certificate.data(), static_cast<DWORD>(certificate.size()));
    ASSERT_NE(cert, nullptr);
    const CRYPT_BIT_BLOB& point = cert->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    ASSERT_EQ(point.cbData, 65u);
    std::vector<BYTE> x(point.pbData + 1, point.pbData + 33), y(point.pbData + 33, point.pbData + 65);
    CertFreeCertificateContext(cert);

    std::vector<BYTE> blob(140);
    DWORD length = 140;
    ASSERT_TRUE(CryptExportKey(UserKey(context, AT_SIGNATURE), 0, PUBLICKEYBLOB, 0, blob.data(), &length))
        << GetLastError();
    ASSERT_EQ(length, 140u);
    EXPECT_EQ(std::vector<BYTE>(blob.begin() + 12, blob.begin() + 44), std::vector<BYTE>(x.rbegin(), x.rend()));
    EXPECT_EQ(std::vector<BYTE>(blob.begin() + 76, blob.begin() + 108), std::vector<BYTE>(y.rbegin(), y.rend()));

    // Imported back, it verifies the token's signatures like the user key.
    HCRYPTKEY imported = 0;
    ASSERT_TRUE(CryptImportKey(context, blob.data(), 140, 0, 0, &imported)) << GetLastError();
    m_keys.push_back(imported);
    blob[1] = 1;
    HCRYPTKEY refused = 0;
    EXPECT_FALSE(CryptImportKey(context, blob.data(), 140, 0, 0, &refused));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_VER));
}

TEST_F(Signing, SessionKeyTravelsInASimpleBlob)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY exchange = UserKey(context, AT_KEYEXCHANGE);
    HCRYPTKEY session = 0;
    ASSERT_TRUE(CryptGenKey(context, CALG_AES_128, 0, &session)) << GetLastError();
    m_keys.push_back(session);
    DWORD length = 0;
    ASSERT_TRUE(CryptExportKey(session, exchange, SIMPLEBLOB, 0, nullptr, &length)) << GetLastError();
    std::vector<BYTE> blob(length);
    ASSERT_TRUE(CryptExportKey(session, exchange, SIMPLEBLOB, 0, blob.data(), &length)) << GetLastError();
    blob.resize(length);

    HCRYPTKEY imported = 0;
    DWORD error = 0;
    DriverRun run;
    ASSERT_TRUE(WithPinTyped([&] { return CryptImportKey(context, blob.data(), length, exchange, 0, &imported); },
                             &error, &run))
        << error << run.output;
    m_keys.push_back(imported);

    const std::string plain = "a message under the session key";
    std::vector<BYTE> data(plain.begin(), plain.end());
    data.resize(64);
    DWORD dataLen = static_cast<DWORD>(plain.size());
    ASSERT_TRUE(CryptEncrypt(session, 0, TRUE, 0, data.data(), &dataLen, 64)) << GetLastError();
    ASSERT_TRUE(CryptDecrypt(imported, 0, TRUE, 0, data.data(), &dataLen)) << GetLastError();
    EXPECT_EQ(std::string(data.begin(), data.begin() + dataLen), plain);
}

class LastTry : public Signing {
protected:
    std::uint32_t MaxTries() const override { return 1; }
};

TEST_F(LastTry, WrongPinLocksAndTheNextSignatureAsksNothing)
{
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> signature;
    DriverRun run;
    DWORD error = 0;
    EXPECT_FALSE(Sign(context, L"pin type=11111111 ok message gone", &signature, &run, &error));
    EXPECT_EQ(error, DWORD(SCARD_W_CHV_BLOCKED)) << "blocked, not cancelled";
    EXPECT_EQ(run.messages, std::vector<std::string> {Utf8(GetMessageTable()->texts[MSG_PIN_LOCKED])});
    // No tries left: refused before any window.
    EXPECT_FALSE(Sign(context, L"gone", &signature, &run, &error));
    EXPECT_EQ(error, kPinLocked);
}

bool IsPinDialog(HWND window)
{
    HWND edit = IsDialog(window) ? GetDlgItem(window, 1001) : nullptr;
    return edit && IsWindowVisible(edit);
}

// The PIN dialog of this process, once it is up.
HWND WaitForOwnPinDialog()
{
    SetTargetProcess(GetCurrentProcessId());
    return WaitFor(IsPinDialog, 20000);
}

struct SignJob {
    HCRYPTHASH hash;
    BOOL signed_ = FALSE;
    DWORD error = 0;
    std::vector<BYTE> signature = std::vector<BYTE>(kSm2SignatureLen);
};

DWORD WINAPI SignOnThread(LPVOID parameter)
{
    auto* job = static_cast<SignJob*>(parameter);
    DWORD length = kSm2SignatureLen;
    job->signed_ = CryptSignHashW(job->hash, AT_SIGNATURE, nullptr, 0, job->signature.data(), &length);
    job->error = GetLastError();
    return 0;
}

struct AcquireJob {
    BOOL acquired = FALSE;
    DWORD error = 0;
    HCRYPTPROV context = 0;
};

DWORD WINAPI AcquireOnThread(LPVOID parameter)
{
    auto* job = static_cast<AcquireJob*>(parameter);
    job->acquired = CryptAcquireContextA(&job->context, kContainer, kProvider, PROV_RSA_FULL, 0);
    job->error = GetLastError();
    return 0;
}

TEST_F(Signing, AcquireWaitsForNoSignatureButIsRefusedDuringOne)
{
    HCRYPTPROV context = Acquire();
    SignJob sign;
    sign.hash = HashOf(context, kMessage);
    HANDLE signer = CreateThread(nullptr, 0, SignOnThread, &sign, 0, nullptr);
    HWND dialog = WaitForOwnPinDialog();
    ASSERT_NE(dialog, nullptr);

    AcquireJob acquire;
    HANDLE acquirer = CreateThread(nullptr, 0, AcquireOnThread, &acquire, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(acquirer, 10000), WAIT_OBJECT_0) << "acquire blocked behind the signature";
    CloseHandle(acquirer);
    EXPECT_FALSE(acquire.acquired);
    EXPECT_EQ(acquire.error, kBusy);

    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_EQ(WaitForSingleObject(signer, 20000), WAIT_OBJECT_0);
    CloseHandle(signer);
    EXPECT_FALSE(sign.signed_);
    EXPECT_EQ(sign.error, kCancelled);
    Acquire();
}

TEST_F(Signing, TwoThreadsSignOneAfterTheOther)
{
    HCRYPTPROV first = Acquire(), second = Acquire();
    std::vector<BYTE> certificate = Certificate(first);
    SignJob one, two;
    one.hash = HashOf(first, kMessage);
    two.hash = HashOf(second, kMessage);
    HANDLE threads[2] = {CreateThread(nullptr, 0, SignOnThread, &one, 0, nullptr), nullptr};
    ASSERT_NE(WaitForOwnPinDialog(), nullptr);
    threads[1] = CreateThread(nullptr, 0, SignOnThread, &two, 0, nullptr);
    // The second signature waits for the provider lock, not for a PIN.
    EXPECT_EQ(WaitForSingleObject(threads[1], 1000), DWORD(WAIT_TIMEOUT));

    CUiDriver driver(L"PinDialogDriver.exe");
    ASSERT_TRUE(driver.Start(L"--timeout 30 serve=12345678"));
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 30000), WAIT_OBJECT_0);
    for (HANDLE thread : threads) CloseHandle(thread);
    DriverRun run = driver.Finish(0);
    EXPECT_TRUE(one.signed_) << one.error << run.output;
    EXPECT_TRUE(two.signed_) << two.error << run.output;
    EXPECT_TRUE(VerifiedByOpenSsl(certificate, one.signature));
    EXPECT_TRUE(VerifiedByOpenSsl(certificate, two.signature));
}

// The private key stays on the token: only a key that came in exportable
// goes out again.
TEST_F(CryptoApi, PrivateKeyOfTheTokenIsNeverExported)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY key = UserKey(context, AT_SIGNATURE);
    DWORD permissions = 0, length = sizeof permissions;
    ASSERT_TRUE(CryptGetKeyParam(key, KP_PERMISSIONS, reinterpret_cast<BYTE*>(&permissions), &length, 0));
    EXPECT_EQ(permissions & CRYPT_EXPORT, 0u);
    std::vector<BYTE> blob(512);
    length = static_cast<DWORD>(blob.size());
    EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &length));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_KEY_STATE));
}

TEST_F(CryptoApi, SecondContainerOfANameIsRefused)
{
    HCRYPTPROV context = 0;
    EXPECT_FALSE(CryptAcquireContextA(&context, kContainer, kProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_EQ(GetLastError(), DWORD(NTE_EXISTS));
    // The one container of the name still opens with its keys.
    UserKey(Acquire(), AT_SIGNATURE);
    int named = 0;
    tokentest::EditStore([&](tokensim::State& s) {
        for (const tokensim::Token& t : s.tokens)
            for (const tokensim::Container& c : t.containers) named += c.name == kContainer;
    });
    EXPECT_EQ(named, 1);
}

TEST_F(CryptoApi, FailedBlockDecryptionLeavesTheKeyUsable)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(context, CALG_AES_128, 0, &key)) << GetLastError();
    m_keys.push_back(key);
    const std::string plain = "sixteen and more bytes";
    std::vector<BYTE> data(plain.begin(), plain.end());
    data.resize(64);
    DWORD length = static_cast<DWORD>(plain.size());
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, 64)) << GetLastError();
    // A ciphertext that is no whole number of blocks fails at its end.
    std::vector<BYTE> broken(data.begin(), data.begin() + 15);
    DWORD brokenLen = 15;
    EXPECT_FALSE(CryptDecrypt(key, 0, TRUE, 0, broken.data(), &brokenLen));
    ASSERT_TRUE(CryptDecrypt(key, 0, TRUE, 0, data.data(), &length)) << GetLastError();
    EXPECT_EQ(std::string(data.begin(), data.begin() + length), plain);
}

TEST_F(CryptoApi, PublicKeysOffTheirAssumptionsAreRefused)
{
    HCRYPTPROV context = Acquire();
    // RSA: verification and export take the exponent to be 65537.
    std::vector<BYTE> rsa(20 + 128, 0x5A);
    const DWORD header[] = {PUBLICKEYBLOB | (2 << 8), CALG_RSA_KEYX, 0x31415352, 1024};
    std::memcpy(rsa.data(), header, sizeof header);
    struct {
        DWORD exponent;
        BOOL imported;
    } exponents[] = {{3, FALSE}, {65537, TRUE}};
    for (const auto& e : exponents) {
        std::memcpy(rsa.data() + 16, &e.exponent, 4);
        HCRYPTKEY key = 0;
        EXPECT_EQ(CryptImportKey(context, rsa.data(), static_cast<DWORD>(rsa.size()), 0, 0, &key), e.imported)
            << e.exponent;
        if (key) m_keys.push_back(key);
        if (!e.imported) {
            EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_DATA)) << e.exponent;
        }
    }
    // SM2: the point must lie on the curve.
    std::vector<BYTE> sm2(140);
    DWORD length = 140;
    ASSERT_TRUE(CryptExportKey(UserKey(context, AT_SIGNATURE), 0, PUBLICKEYBLOB, 0, sm2.data(), &length));
    sm2[12 + 64] ^= 1; // y changed
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptImportKey(context, sm2.data(), 140, 0, 0, &key));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_DATA));
    for (int i = 12; i < 140; ++i) sm2[i] = static_cast<BYTE>(i * 37);
    EXPECT_FALSE(CryptImportKey(context, sm2.data(), 140, 0, 0, &key));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_DATA));
}

// COM is the caller's: loading the provider leaves the thread's apartment
// as it was.
TEST_F(CryptoApi, ProviderLeavesTheThreadsApartmentAlone)
{
    Acquire();
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_TRUE(result == S_OK || result == S_FALSE) << std::hex << result;
    if (SUCCEEDED(result)) CoUninitialize();
}

// Clients that end with contexts, keys and hashes still open exit at once:
// the provider's detach waits for no other thread.
TEST_F(CryptoApi, ClientsWithOpenHandlesExit)
{
    std::vector<int> slow, failed;
    for (int run = 0; run < 20; ++run) {
        DWORD exitCode = RunClient(L"", 5000);
        if (exitCode == 0xFFFFFFFF) slow.push_back(run);
        if (exitCode != 0 && exitCode != 0xFFFFFFFF) failed.push_back(run);
    }
    EXPECT_EQ(slow, std::vector<int> {});
    EXPECT_EQ(failed, std::vector<int> {});
}

// A token pulled and plugged in again forgets its handles and its login.
TEST_F(CryptoApi, ReinsertedTokenAnswersNoStaleContext)
{
    HCRYPTPROV context = Acquire();
    ASSERT_TRUE(CryptSetProvParam(context, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>("12345678"), 0))
        << GetLastError();
    tokentest::EditStore([](tokensim::State& s) {
        ASSERT_EQ(tokensim::SetPresent(s, kSerial, false), "");
        ASSERT_EQ(tokensim::SetPresent(s, kSerial, true), "");
    });
    BYTE random[16];
    EXPECT_FALSE(CryptGenRandom(context, sizeof random, random));
    std::vector<BYTE> blob(140);
    DWORD length = 140;
    EXPECT_FALSE(CryptExportKey(UserKey(context, AT_SIGNATURE), 0, PUBLICKEYBLOB, 0, blob.data(), &length));
    // A new context works on the token as it is now.
    EXPECT_TRUE(CryptGenRandom(Acquire(), sizeof random, random)) << GetLastError();
}

// Deleting a container destroys its keys for good: only with the PIN.
TEST_F(Signing, DeletingAContainerNeedsThePin)
{
    HCRYPTPROV context = 0;
    DWORD error = 0;
    DriverRun run;
    EXPECT_FALSE(WithPinTyped(
        [&] { return CryptAcquireContextA(&context, kContainer, kProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET); },
        &error, &run, L"pin cancel gone"));
    EXPECT_EQ(error, kCancelled) << run.output;
    UserKey(Acquire(), AT_SIGNATURE);

    ASSERT_TRUE(WithPinTyped(
        [&] { return CryptAcquireContextA(&context, kContainer, kProvider, PROV_RSA_FULL, CRYPT_DELETEKEYSET); },
        &error, &run))
        << error << run.output;
    EXPECT_FALSE(CryptAcquireContextA(&context, kContainer, kProvider, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_KEYSET));
}

// A session key unwrapped to the wrong length for its algorithm.
TEST_F(Signing, SimpleBlobOfAShortKeyIsRefused)
{
    HCRYPTPROV context = Acquire();
    HCRYPTKEY exchange = UserKey(context, AT_KEYEXCHANGE);
    std::vector<BYTE> wrapped = {1, 2, 3};
    wrapped.resize(3 + 97);
    DWORD length = 3;
    ASSERT_TRUE(CryptEncrypt(exchange, 0, TRUE, 0, wrapped.data(), &length, static_cast<DWORD>(wrapped.size())))
        << GetLastError();
    wrapped.resize(length);
    // The blob carries the token's ciphertext, point-format byte and all,
    // reversed.
    wrapped.insert(wrapped.begin(), 0x04);
    std::reverse(wrapped.begin(), wrapped.end());
    const DWORD header[] = {SIMPLEBLOB | (2 << 8), CALG_AES_128, 0xBE00};
    std::vector<BYTE> blob(sizeof header + wrapped.size());
    std::memcpy(blob.data(), header, sizeof header);
    std::copy(wrapped.begin(), wrapped.end(), blob.begin() + sizeof header);
    HCRYPTKEY key = 0;
    DWORD error = 0;
    DriverRun run;
    EXPECT_FALSE(WithPinTyped(
        [&] { return CryptImportKey(context, blob.data(), static_cast<DWORD>(blob.size()), exchange, 0, &key); },
        &error, &run));
    EXPECT_EQ(error, DWORD(NTE_BAD_DATA)) << run.output;
    if (key) m_keys.push_back(key);
}

// Only a key that came in exportable goes out again.
TEST_F(RsaSigning, KeyImportedExportableIsExportedAsItCame)
{
    HCRYPTPROV context = Acquire();
    csptest::PKey rsa = csptest::NewRsaKey(1024);
    csptest::Bytes blob = csptest::RsaPrivateBlob(rsa.get(), CALG_RSA_SIGN);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(ImportWithPinTyped(context, blob, CRYPT_EXPORTABLE, &key));
    m_keys.push_back(key);
    DWORD length = 0;
    ASSERT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &length)) << GetLastError();
    std::vector<BYTE> exported(length);
    ASSERT_TRUE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, exported.data(), &length)) << GetLastError();
    ASSERT_EQ(exported.size(), blob.size());
    EXPECT_TRUE(std::equal(blob.begin() + 20, blob.end(), exported.begin() + 20));
}

// The maker's client program, as a window of its class in this process.
struct ClientWindow {
    static int commands;
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_COMMAND && wParam == 1539) ++commands;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    ClientWindow()
    {
        WNDCLASSW type = {};
        type.lpfnWndProc = Proc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.lpszClassName = L"LORVIN_KeltoClientClass";
        RegisterClassW(&type);
        window =
            CreateWindowW(type.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, type.hInstance, nullptr);
        commands = 0;
    }
    ~ClientWindow() { DestroyWindow(window); }
    HWND window;
};
int ClientWindow::commands;

std::vector<std::string> ContainerNames()
{
    std::vector<std::string> names;
    tokentest::EditStore([&](tokensim::State& s) {
        for (const tokensim::Container& c : s.FindBySerial(kSerial)->containers) names.push_back(c.name);
    });
    return names;
}

// A certificate goes under a key only when it certifies that key: one of
// another key or of the other algorithm is refused before the PIN, and the
// token stays as it was. A certificate of the key, written after the PIN:
// an RSA one registered in "My" with its key's provider, the other
// containers of its algorithm deleted, the others kept, and the maker's
// client told.
TEST_F(RsaSigning, CertificateWriteChecksThenRegistersDeletesAndNotifies)
{
    AddExchangeCertificateAndContainer("other RSA");
    tokentest::EditStore([](tokensim::State& s) {
        tokensim::KeyOptions sm2;
        sm2.container = "kept SM2";
        ASSERT_EQ(tokensim::AddKeyPair(s, kSerial, sm2), "");
        sm2.signature = false;
        ASSERT_EQ(tokensim::AddKeyPair(s, kSerial, sm2), "");
        tokensim::CertOptions sm2Cert;
        sm2Cert.container = "kept SM2";
        ASSERT_EQ(tokensim::AddCertificate(s, kSerial, sm2Cert), "");
        sm2Cert.signature = false;
        ASSERT_EQ(tokensim::AddCertificate(s, kSerial, sm2Cert), "");
    });
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> certificate = Certificate(context);
    HCRYPTKEY key = UserKey(context, AT_SIGNATURE);
    HCRYPTPROV sm2 = 0;
    ASSERT_TRUE(CryptAcquireContextA(&sm2, "kept SM2", kProvider, PROV_RSA_FULL, 0)) << GetLastError();
    m_contexts.push_back(sm2);
    std::vector<BYTE> sm2Certificate = Certificate(sm2);
    HCRYPTKEY sm2Key = UserKey(sm2, AT_SIGNATURE);
    std::vector<BYTE> sm2Public(140);
    DWORD length = 140;
    ASSERT_TRUE(CryptExportKey(sm2Key, 0, PUBLICKEYBLOB, 0, sm2Public.data(), &length));

    // Silent contexts: a refusal that came after the PIN would be
    // NTE_SILENT_CONTEXT.
    HCRYPTPROV silent = 0, silentSm2 = 0;
    ASSERT_TRUE(CryptAcquireContextA(&silent, kContainer, kProvider, PROV_RSA_FULL, CRYPT_SILENT));
    ASSERT_TRUE(CryptAcquireContextA(&silentSm2, "kept SM2", kProvider, PROV_RSA_FULL, CRYPT_SILENT));
    m_contexts.push_back(silent);
    m_contexts.push_back(silentSm2);
    struct {
        HCRYPTPROV context;
        std::vector<BYTE> certificate;
        const char* what;
    } refused[] = {
        {silent, Certificate(context, AT_KEYEXCHANGE), "RSA certificate of another key"},
        {silent, sm2Certificate, "SM2 certificate on an RSA key"},
        {silentSm2, Certificate(sm2, AT_KEYEXCHANGE), "SM2 certificate of another key"},
        {silentSm2, certificate, "RSA certificate on an SM2 key"},
    };
    for (auto& r : refused) {
        EXPECT_FALSE(CryptSetKeyParam(UserKey(r.context, AT_SIGNATURE), KP_CERTIFICATE, r.certificate.data(), 0))
            << r.what;
        EXPECT_EQ(GetLastError(), DWORD(NTE_BAD_DATA)) << r.what;
    }
    EXPECT_EQ(ContainerNames(), (std::vector<std::string> {kContainer, "other RSA", "kept SM2"}));
    EXPECT_EQ(Certificate(context), certificate);
    EXPECT_EQ(Certificate(sm2), sm2Certificate);
    std::vector<BYTE> stillPublic(140);
    ASSERT_TRUE(CryptExportKey(UserKey(sm2, AT_SIGNATURE), 0, PUBLICKEYBLOB, 0, stillPublic.data(), &length));
    EXPECT_EQ(stillPublic, sm2Public);

    ClientWindow client;
    ASSERT_NE(client.window, nullptr);
    DWORD error = 0;
    DriverRun run;
    ASSERT_TRUE(
        WithPinTyped([&] { return CryptSetKeyParam(sm2Key, KP_CERTIFICATE, sm2Certificate.data(), 0); }, &error, &run))
        << error << run.output;
    ASSERT_TRUE(
        WithPinTyped([&] { return CryptSetKeyParam(key, KP_CERTIFICATE, certificate.data(), 0); }, &error, &run))
        << error << run.output;
    EXPECT_EQ(run.exitCode, 0u) << "the write asked for no PIN: " << run.output;
    EXPECT_EQ(ClientWindow::commands, 2);
    EXPECT_EQ(ContainerNames(), (std::vector<std::string> {kContainer, "kept SM2"}));

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"My");
    ASSERT_NE(store, nullptr);
    CRYPT_DATA_BLOB encoded = {static_cast<DWORD>(certificate.size()), certificate.data()};
    PCCERT_CONTEXT found = nullptr, mine = nullptr;
    for (found = CertEnumCertificatesInStore(store, nullptr); found && !mine;
         found = CertEnumCertificatesInStore(store, found)) {
        if (found->cbCertEncoded == encoded.cbData &&
            std::memcmp(found->pbCertEncoded, encoded.pbData, encoded.cbData) == 0)
            mine = CertDuplicateCertificateContext(found);
    }
    if (found) CertFreeCertificateContext(found);
    ASSERT_NE(mine, nullptr) << "not registered in My";
    DWORD size = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(mine, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<BYTE> info(size);
    ASSERT_TRUE(CertGetCertificateContextProperty(mine, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size));
    auto* provInfo = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data());
    EXPECT_STREQ(provInfo->pwszContainerName, L"Kelto CSP Container");
    EXPECT_STREQ(provInfo->pwszProvName, L"VESK FOR LORVIN CSP v1.1.0");
    EXPECT_EQ(provInfo->dwProvType, 1u);
    EXPECT_EQ(provInfo->dwKeySpec, DWORD(AT_SIGNATURE));
    CertDeleteCertificateFromStore(mine);
    CertCloseStore(store, 0);
}

// A hook library planted in the current directory is not loaded.
TEST_F(Signing, PlantedHookLibraryIsNotLoaded)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring planted(path, length);
    planted = planted.substr(0, planted.find_last_of(L"\\/") + 1) + L"planted";
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(planted.c_str()));
    SetEnvironmentVariableW(L"SIGWELL_PLANTED_LOADED", nullptr);
    HCRYPTPROV context = Acquire();
    std::vector<BYTE> signature;
    DriverRun run;
    DWORD error = 0;
    BOOL signed_ = Sign(context, L"pin type=12345678 ok gone", &signature, &run, &error);
    SetCurrentDirectoryW(previous);
    ASSERT_TRUE(signed_) << error << run.output;
    EXPECT_EQ(GetEnvironmentVariableW(L"SIGWELL_PLANTED_LOADED", nullptr, 0), 0u);
}

} // namespace

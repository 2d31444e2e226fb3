// A small CryptoAPI provider for tests: key containers, certificates and
// keys come from the file the test writes (CspConfig.h); hashes and
// signatures are real (CspSigner.h). Only what the signing agent calls is
// served; every other entry point fails with E_NOTIMPL.
#include "CspConfig.h"
#include "CspSigner.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace testcsp;

// What advapi32 passes to CPAcquireContext.
struct ProviderTable {
    DWORD Version;
    FARPROC FuncVerifyImage;
    FARPROC FuncReturnhWnd;
    DWORD dwProvType;
    BYTE *pbContextInfo;
    DWORD cbContextInfo;
    LPSTR pszProvName;
};

constexpr DWORD PP_KEY_IDENTIFIERS = 80;

struct ProviderContext {
    std::string providerName;
    std::string containerName; // empty for a verification context
    ProviderConfig config;
    size_t nextContainer = 0;
};

struct KeyHandle {
    KeyEntry key;
};

struct HashHandle {
    ALG_ID algId = 0;
    std::vector<BYTE> message;
    std::vector<BYTE> value;
    bool valueReplaced = false;
};

template <typename T>
T *FromHandle(ULONG_PTR handle)
{
    return reinterpret_cast<T *>(handle);
}

BOOL Fail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

// The CryptoAPI length protocol: a null buffer asks for the length, a
// short one gets ERROR_MORE_DATA with the length needed.
BOOL CopyOut(const void *pvValue, DWORD cbValue, BYTE *pbData, DWORD *pdwDataLen)
{
    if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
    if (!pbData) {
        *pdwDataLen = cbValue;
        return TRUE;
    }
    if (*pdwDataLen < cbValue) {
        *pdwDataLen = cbValue;
        return Fail(ERROR_MORE_DATA);
    }
    std::memcpy(pbData, pvValue, cbValue);
    *pdwDataLen = cbValue;
    return TRUE;
}

BOOL CopyOutText(const std::string &text, BYTE *pbData, DWORD *pdwDataLen)
{
    return CopyOut(text.c_str(), static_cast<DWORD>(text.size() + 1), pbData, pdwDataLen);
}

// A provider name or container name, terminated unless the provider is
// told to leave the zero out.
BOOL CopyOutName(const ProviderContext &context, const std::string &name, BYTE *pbData, DWORD *pdwDataLen)
{
    if (!context.config.unterminatedText) return CopyOutText(name, pbData, pdwDataLen);
    return CopyOut(name.data(), static_cast<DWORD>(name.size()), pbData, pdwDataLen);
}

// The misbehaviour of a broken token: a failure without a last error.
bool FailsSilently(const ProviderContext &context, const char *pszEntryPoint)
{
    if (!context.config.FailsSilently(pszEntryPoint)) return false;
    SetLastError(0);
    return true;
}

ProviderContext &ContextOf(HCRYPTPROV hProv)
{
    return *FromHandle<ProviderContext>(hProv);
}

const KeyEntry *FindKey(const ProviderContext &context, DWORD dwKeySpec)
{
    const ContainerEntry *container = context.config.FindContainer(context.containerName);
    if (!container) return nullptr;
    for (const KeyEntry &key : container->keys)
        if (key.keySpec == dwKeySpec) return &key;
    return nullptr;
}

BOOL EnumContainers(ProviderContext &context, BYTE *pbData, DWORD *pdwDataLen, DWORD dwFlags)
{
    const std::vector<ContainerEntry> &containers = context.config.containers;
    if (dwFlags & CRYPT_FIRST) context.nextContainer = 0;
    if (!pbData) {
        // Room for the longest name, as the platform's providers answer;
        // like them, a provider without containers says so at once.
        if (containers.empty()) return Fail(ERROR_NO_MORE_ITEMS);
        DWORD cbLongest = 1;
        for (const ContainerEntry &container : containers)
            cbLongest = std::max<DWORD>(cbLongest, static_cast<DWORD>(container.name.size() + 1));
        return CopyOut(nullptr, cbLongest, nullptr, pdwDataLen);
    }
    if (context.nextContainer >= containers.size()) return Fail(ERROR_NO_MORE_ITEMS);
    if (!CopyOutText(containers[context.nextContainer].name, pbData, pdwDataLen)) return FALSE;
    ++context.nextContainer;
    return TRUE;
}

BOOL KeyIdentifiers(const ProviderContext &context, BYTE *pbData, DWORD *pdwDataLen)
{
    std::string list;
    for (const std::string &id : context.config.keyIds) list.append(id).push_back('\0');
    list.push_back('\0');
    const DWORD cbList = static_cast<DWORD>(list.size());
    if (context.config.shortKeyIdSize && !pbData)
        return CopyOut(nullptr, static_cast<DWORD>(17 * context.config.keyIds.size() + 2), nullptr, pdwDataLen);
    if (context.config.shortKeyIdSize && pdwDataLen && *pdwDataLen < cbList) {
        *pdwDataLen = cbList;
        return Fail(static_cast<DWORD>(NTE_BUFFER_TOO_SMALL));
    }
    return CopyOut(list.data(), cbList, pbData, pdwDataLen);
}

// What a PIN dialog's message loop does on the caller's thread before the
// user answers.
void DispatchWaitingMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

std::vector<BYTE> HashValue(const HashHandle &hash)
{
    return hash.valueReplaced ? hash.value : ComputeHash(hash.algId, hash.message);
}

// The statically linked libcrypto registers its cleanup with the
// process's exit handlers; advapi32 unloads the provider when the last
// context is released, so the module stays loaded until the process ends.
void PinModule()
{
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinModule), &hModule);
}

} // namespace

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV *phProv, LPSTR szContainer, DWORD dwFlags, ProviderTable *pVTable)
{
    if (!phProv || !pVTable || !pVTable->pszProvName) return Fail(NTE_BAD_UID);
    if (dwFlags & ~(CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) return Fail(NTE_BAD_FLAGS);
    PinModule();
    auto *context = new ProviderContext;
    context->providerName = pVTable->pszProvName;
    context->config = LoadProviderConfig(context->providerName);
    if (FailsSilently(*context, "CPAcquireContext")) {
        delete context;
        return FALSE;
    }
    const bool verifyOnly = (dwFlags & CRYPT_VERIFYCONTEXT) != 0;
    if (!verifyOnly) {
        if (szContainer && *szContainer)
            context->containerName = szContainer;
        else if (!context->config.containers.empty())
            context->containerName = context->config.containers.front().name;
        if (!context->config.FindContainer(context->containerName)) {
            delete context;
            return Fail(NTE_BAD_KEYSET);
        }
    }
    LogCall("acquire|" + context->providerName + "|" + (verifyOnly ? "*" : context->containerName));
    *phProv = reinterpret_cast<HCRYPTPROV>(context);
    return TRUE;
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD)
{
    delete FromHandle<ProviderContext>(hProv);
    return TRUE;
}

BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE *pbData, DWORD *pdwDataLen, DWORD dwFlags)
{
    ProviderContext &context = ContextOf(hProv);
    if (FailsSilently(context, "CPGetProvParam")) return FALSE;
    switch (dwParam) {
    case PP_ENUMCONTAINERS:
        return EnumContainers(context, pbData, pdwDataLen, dwFlags);
    case PP_NAME:
        return CopyOutName(context, context.providerName, pbData, pdwDataLen);
    case PP_CONTAINER:
        return CopyOutName(context, context.containerName, pbData, pdwDataLen);
    case PP_KEY_IDENTIFIERS:
        return KeyIdentifiers(context, pbData, pdwDataLen);
    default:
        return Fail(NTE_BAD_TYPE);
    }
}

BOOL WINAPI CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY *phUserKey)
{
    if (FailsSilently(ContextOf(hProv), "CPGetUserKey")) return FALSE;
    const KeyEntry *key = FindKey(ContextOf(hProv), dwKeySpec);
    if (!key) return Fail(NTE_NO_KEY);
    if (key->silentNoKey) return Fail(0);
    *phUserKey = reinterpret_cast<HCRYPTKEY>(new KeyHandle {*key});
    return TRUE;
}

BOOL WINAPI CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE *pbData, DWORD *pdwDataLen, DWORD)
{
    if (FailsSilently(ContextOf(hProv), "CPGetKeyParam")) return FALSE;
    const KeyEntry &key = FromHandle<KeyHandle>(hKey)->key;
    if (dwParam == KP_ALGID) {
        const ALG_ID algId = key.keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX;
        return CopyOut(&algId, sizeof algId, pbData, pdwDataLen);
    }
    if (dwParam != KP_CERTIFICATE) return Fail(NTE_BAD_TYPE);
    if (key.emptyCertificate) {
        *pdwDataLen = 0;
        SetLastError(0);
        return TRUE;
    }
    std::vector<unsigned char> certificate;
    if (key.certificatePath.empty() || !ReadFileBytes(key.certificatePath, certificate))
        return Fail(static_cast<DWORD>(SCARD_E_NO_SUCH_CERTIFICATE));
    return CopyOut(certificate.data(), static_cast<DWORD>(certificate.size()), pbData, pdwDataLen);
}

BOOL WINAPI CPDestroyKey(HCRYPTPROV, HCRYPTKEY hKey)
{
    delete FromHandle<KeyHandle>(hKey);
    return TRUE;
}

BOOL WINAPI CPCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH *phHash)
{
    if (FailsSilently(ContextOf(hProv), "CPCreateHash")) return FALSE;
    if (hKey || dwFlags) return Fail(NTE_BAD_FLAGS);
    if (!IsSupportedHash(Algid)) return Fail(NTE_BAD_ALGID);
    auto *hash = new HashHandle;
    hash->algId = Algid;
    *phHash = reinterpret_cast<HCRYPTHASH>(hash);
    return TRUE;
}

BOOL WINAPI CPHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE *pbData, DWORD cbDataLen, DWORD)
{
    if (FailsSilently(ContextOf(hProv), "CPHashData")) return FALSE;
    HashHandle &hash = *FromHandle<HashHandle>(hHash);
    LogCall("hash|" + std::to_string(cbDataLen));
    hash.message.insert(hash.message.end(), pbData, pbData + cbDataLen);
    return TRUE;
}

BOOL WINAPI CPGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, BYTE *pbData, DWORD *pdwDataLen, DWORD)
{
    if (FailsSilently(ContextOf(hProv), "CPGetHashParam")) return FALSE;
    const HashHandle &hash = *FromHandle<HashHandle>(hHash);
    const std::vector<BYTE> value = HashValue(hash);
    const DWORD cbValue = static_cast<DWORD>(value.size());
    switch (dwParam) {
    case HP_ALGID:
        return CopyOut(&hash.algId, sizeof hash.algId, pbData, pdwDataLen);
    case HP_HASHSIZE:
        return CopyOut(&cbValue, sizeof cbValue, pbData, pdwDataLen);
    case HP_HASHVAL:
        return CopyOut(value.data(), cbValue, pbData, pdwDataLen);
    default:
        return Fail(NTE_BAD_TYPE);
    }
}

BOOL WINAPI CPSetHashParam(HCRYPTPROV, HCRYPTHASH hHash, DWORD dwParam, const BYTE *pbData, DWORD)
{
    HashHandle &hash = *FromHandle<HashHandle>(hHash);
    if (dwParam != HP_HASHVAL || !pbData) return Fail(NTE_BAD_TYPE);
    hash.value.assign(pbData, pbData + ComputeHash(hash.algId, {}).size());
    hash.valueReplaced = true;
    return TRUE;
}

BOOL WINAPI CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR, DWORD, BYTE *pbSignature,
                       DWORD *pdwSigLen)
{
    if (FailsSilently(ContextOf(hProv), "CPSignHash")) return FALSE;
    const KeyEntry *key = FindKey(ContextOf(hProv), dwKeySpec);
    if (!key || key->privateKeyPath.empty()) return Fail(NTE_NO_KEY);
    if (key->pumpsMessages) DispatchWaitingMessages();
    const HashHandle &hash = *FromHandle<HashHandle>(hHash);
    std::vector<BYTE> signature;
    DWORD dwError =
        SignWithKey(key->privateKeyPath, hash.algId, hash.message, HashValue(hash), hash.valueReplaced, signature);
    if (dwError) return Fail(dwError);
    if (key->longSignature) signature.push_back(0);
    LogCall("sign|" + std::to_string(dwKeySpec));
    return CopyOut(signature.data(), static_cast<DWORD>(signature.size()), pbSignature, pdwSigLen);
}

BOOL WINAPI CPDestroyHash(HCRYPTPROV, HCRYPTHASH hHash)
{
    delete FromHandle<HashHandle>(hHash);
    return TRUE;
}

// Not served: every one refuses.
BOOL WINAPI CPDecrypt(HCRYPTPROV, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE *, DWORD *)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPDeriveKey(HCRYPTPROV, ALG_ID, HCRYPTHASH, DWORD, HCRYPTKEY *)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPDuplicateHash(HCRYPTPROV, HCRYPTHASH, DWORD *, DWORD, HCRYPTHASH *)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPDuplicateKey(HCRYPTPROV, HCRYPTKEY, DWORD *, DWORD, HCRYPTKEY *)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPEncrypt(HCRYPTPROV, HCRYPTKEY, HCRYPTHASH, BOOL, DWORD, BYTE *, DWORD *, DWORD)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPExportKey(HCRYPTPROV, HCRYPTKEY, HCRYPTKEY, DWORD, DWORD, BYTE *, DWORD *)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPGenKey(HCRYPTPROV, ALG_ID, DWORD, HCRYPTKEY *)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPGenRandom(HCRYPTPROV, DWORD, BYTE *)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPHashSessionKey(HCRYPTPROV, HCRYPTHASH, HCRYPTKEY, DWORD)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPImportKey(HCRYPTPROV, const BYTE *, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY *)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPSetKeyParam(HCRYPTPROV, HCRYPTKEY, DWORD, const BYTE *, DWORD)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPSetProvParam(HCRYPTPROV, DWORD, const BYTE *, DWORD)
{
    return Fail(E_NOTIMPL);
}
BOOL WINAPI CPVerifySignature(HCRYPTPROV, HCRYPTHASH, const BYTE *, DWORD, HCRYPTKEY, LPCWSTR, DWORD)
{
    return Fail(E_NOTIMPL);
}

} // extern "C"

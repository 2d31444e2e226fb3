#include "ProviderContext.h"

#include "DebugLog.h"
#include "ObjectLists.h"
#include "RemovalWatch.h"
#include "UserPin.h"

#include <cstring>

namespace {

namespace ct = devicelib::container;

constexpr DWORD kAcquireFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_SILENT;

bool BadAcquireFlags(DWORD flags)
{
    return (flags & ~kAcquireFlags) != 0 || ((flags & CRYPT_NEWKEYSET) && (flags & CRYPT_DELETEKEYSET));
}

void CloseSessionToken(TokenSession* session)
{
    if (session->funcs && session->device) session->funcs->CloseToken(session->device);
    session->device = 0;
}

// The record's size byte counts 1024-bit units for RSA and 256-bit units
// for SM2; the key object keeps bytes.
void PresetContainerKey(KeyObject* key, const std::uint8_t* record, bool signature)
{
    bool rsa = record[ct::kAlgorithm] == devicelib::UK_ALG_RSA;
    std::uint32_t units = record[signature ? ct::kSignatureSize : ct::kExchangeSize];
    std::uint32_t size = units * (rsa ? 128u : 32u);
    std::memset(key, 0, sizeof *key);
    key->magic = kKeyMagic;
    key->state = kKeyStateFresh;
    if (signature)
        key->algId = rsa ? CALG_RSA_SIGN : kAlgSm2Sign;
    else
        key->algId = rsa ? CALG_RSA_KEYX : kAlgSm2Keyx;
    key->permissions = signature ? kSignatureKeyId : kExchangeKeyId;
    key->mode = kKeyModeEcb;
    key->padding = kKeyPaddingPkcs5;
    key->blockLen = size;
    key->keyLen = size;
    std::memcpy(key->key, record + (signature ? ct::kSignatureId : ct::kExchangeId), ct::kIdLen);
}

// Deleting a container destroys its keys for good: the user's PIN first,
// as for a signature; a PIN cached for the token serves where it serves
// key generation.
DWORD VerifyPinToDelete(const TokenSession& session, DWORD flags)
{
    auto* check = static_cast<ProviderContext*>(AllocObject(sizeof(ProviderContext)));
    if (!check) return static_cast<DWORD>(NTE_NO_MEMORY);
    check->magic = kProviderMagic;
    check->session = session;
    check->flags = flags;
    DWORD error = VerifyUserPin(check, g_PinVerified != 0);
    if (error) LogLine("----->uk_VerifyUserPin......\n");
    SecureZeroMemory(check, sizeof *check);
    FreeObject(check);
    return error;
}

DWORD DeleteContainer(TokenSession* session, std::uint8_t* record, DWORD flags)
{
    // A nameless or verify open finds no container; deleting "number 0"
    // would hit whatever the token keeps there.
    if (record[ct::kNumber] == 0 || !session->funcs) {
        CloseSessionToken(session);
        LogLine("---->NTE_BAD_KEYSET......\n");
        return static_cast<DWORD>(NTE_BAD_KEYSET);
    }
    DWORD error = VerifyPinToDelete(*session, flags);
    if (error) {
        CloseSessionToken(session);
        return error;
    }
    error = Token_DeleteContainer(session, record);
    CloseSessionToken(session);
    return error;
}

DWORD OpenOrCreate(const char* containerName, DWORD flags, TokenSession* session, std::uint8_t* record)
{
    if (flags & CRYPT_NEWKEYSET) {
        DWORD status = Token_CreateContainer(containerName, flags, session, record);
        if (status != 0) {
            g_PinVerified = 0;
            OutputDebugStringA("---->uk_CreateContainer......\n");
        }
        return status;
    }
    DWORD status = Token_OpenContainer(containerName, flags, session, record);
    if (status != 0) LogLine("---->uk_SelectContainer......\n");
    return status;
}

DWORD AcquireWithSession(HCRYPTPROV* phProv, const char* containerName, DWORD flags, TokenSession& session)
{
    std::uint8_t record[devicelib::UK_CONTAINER_RECORD_LEN] = {};
    DWORD status = OpenOrCreate(containerName, flags, &session, record);
    if (status != 0) return status;
    if (flags & CRYPT_DELETEKEYSET) return DeleteContainer(&session, record, flags);

    auto* context = static_cast<ProviderContext*>(AllocObject(sizeof(ProviderContext)));
    if (!context) {
        LogLine("---->CSPAllocMemory......\n");
        CloseSessionToken(&session);
        DWORD error = GetLastError();
        return error ? error : static_cast<DWORD>(NTE_NO_MEMORY);
    }
    context->session = session;
    const char* name = reinterpret_cast<const char*>(record + ct::kName);
    std::memcpy(context->containerName, name, strnlen(name, kMaxContainerName));
    context->containerNumber = record[ct::kNumber];
    PresetContainerKey(&context->signatureKey, record, true);
    PresetContainerKey(&context->exchangeKey, record, false);
    context->flags = flags;
    context->magic = kProviderMagic;
    context->newKeySetState = (flags & CRYPT_NEWKEYSET) ? NEWKEYSET_CREATED : NEWKEYSET_NONE;
    g_ProviderContexts.Add(context);
    *phProv = reinterpret_cast<HCRYPTPROV>(context);
    StartRemovalWatch();
    return 0;
}

} // namespace

ProviderContext* LookupProviderContext(HCRYPTPROV handle)
{
    return LookupLive<ProviderContext>(handle, g_ProviderContexts, kProviderMagic, "---->NTE_BAD_UID...\n");
}

DWORD AcquireContextImpl(HCRYPTPROV* phProv, const char* containerName, DWORD flags)
{
    if (BadAcquireFlags(flags)) {
        LogLine("---->NTE_BAD_FLAGS(dwFlags). Code : ");
        LogCode(flags);
        return static_cast<DWORD>(NTE_BAD_FLAGS);
    }
    // The session carries the token's cached PIN: no copy stays behind.
    TokenSession session = {};
    DWORD status = AcquireWithSession(phProv, containerName, flags, session);
    SecureZeroMemory(&session, sizeof session);
    return status;
}

DWORD ReleaseContextImpl(HCRYPTPROV hProv, DWORD flags)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    if (flags != 0) {
        LogLine("---->NTE_BAD_FLAGS...\n ");
        return static_cast<DWORD>(NTE_BAD_FLAGS);
    }
    TokenSession& session = context->session;
    if (session.device && session.funcs) {
        std::uint32_t status = session.funcs->CloseToken(session.device);
        if (status != devicelib::UK_OK) {
            LogLine("---->CloseToken Error. Code : ");
            LogCode(status);
            LogLine("---->dev_CloseToken...\n ");
            return static_cast<DWORD>(NTE_FAIL);
        }
        session.device = 0;
    }
    g_ProviderContexts.Remove(context);
    ForgetContainerListing(context);
    SecureZeroMemory(context, sizeof *context);
    FreeObject(context);
    return 0;
}

#include "HashObject.h"

#include "DebugLog.h"
#include "ObjectLists.h"
#include "ParamOutput.h"
#include "ProviderContext.h"
#include "TokenKeys.h"

#include <cstring>

namespace {

constexpr unsigned kScratchLen = 128;

DWORD ReturnValue(HashObject* hash, BYTE* data, DWORD* dataLen)
{
    if (hash->state == kHashStateOpen) {
        std::uint32_t length = hash->hashLen;
        DWORD status = FinishHash(hash, hash->value, &length);
        if (status != 0) {
            LogLine("---->dev_HashFinal.....\n");
            return status;
        }
    }
    // An SSL3 SHAMD5 hash whose value was never set has none to give.
    if (hash->state != kHashStateFinished) return static_cast<DWORD>(NTE_BAD_HASH_STATE);
    if (data && *dataLen < hash->hashLen) {
        LogLine("---->NTE_BUFFER_TOO_SMALL.....\n");
        *dataLen = hash->hashLen;
        return static_cast<DWORD>(NTE_BUFFER_TOO_SMALL);
    }
    if (data) std::memcpy(data, hash->value, hash->hashLen);
    *dataLen = hash->hashLen;
    return 0;
}

} // namespace

DWORD SetHashParamImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD param, const BYTE* data, DWORD flags)
{
    if (!LookupProviderContext(hProv)) return static_cast<DWORD>(NTE_BAD_UID);
    HashObject* hash = LookupHashObject(hHash);
    if (!hash) return static_cast<DWORD>(NTE_BAD_HASH);
    if (flags != 0) return static_cast<DWORD>(NTE_BAD_FLAGS);
    if (param != HP_HASHVAL) return static_cast<DWORD>(NTE_BAD_TYPE);
    if (!data) return ERROR_INVALID_PARAMETER;
    std::memcpy(hash->value, data, hash->hashLen);
    if (hash->tokenHash) {
        std::uint8_t scratch[kScratchLen];
        std::uint32_t length = sizeof scratch;
        FinishHash(hash, scratch, &length);
    }
    hash->state = kHashStateFinished;
    // The value set serves either key.
    hash->exchangeSource = kExchangeTakesValue;
    SecureZeroMemory(&hash->exchangeStream, sizeof hash->exchangeStream);
    SecureZeroMemory(hash->exchangeValue, sizeof hash->exchangeValue);
    // The signature must be over the value just set, so the data hashed
    // before may no longer stand in for it.
    FreeObject(hash->keptData);
    hash->keptData = nullptr;
    hash->keptLen = 0;
    return 0;
}

DWORD GetHashParamImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD param, BYTE* data, DWORD* dataLen, DWORD flags)
{
    if (!LookupProviderContext(hProv)) return static_cast<DWORD>(NTE_BAD_UID);
    HashObject* hash = LookupHashObject(hHash);
    if (!hash) return static_cast<DWORD>(NTE_BAD_HASH);
    if (flags != 0) return static_cast<DWORD>(NTE_BAD_FLAGS);
    if (!dataLen) return ERROR_INVALID_PARAMETER;
    switch (param) {
    case HP_ALGID:
        return ReturnWord(hash->algId, data, dataLen);
    case HP_HASHSIZE:
        return ReturnWord(hash->hashLen, data, dataLen);
    case HP_HASHVAL:
        return ReturnValue(hash, data, dataLen);
    default:
        return static_cast<DWORD>(NTE_BAD_TYPE);
    }
}

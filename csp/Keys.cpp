#include "KeyObject.h"

#include "DebugLog.h"
#include "HashObject.h"
#include "ObjectLists.h"
#include "ProviderContext.h"
#include "TokenKeys.h"
#include "UserPin.h"

#include <cstring>

namespace {

constexpr std::uint32_t kRc4DefaultBits = 128;
constexpr std::uint32_t kRc4MinBits = 40;
constexpr std::uint32_t kRc4MaxBits = 128;
constexpr std::uint32_t kRc4DerivedLen = 16;
constexpr std::uint32_t kSm2KeyLen = 32;
constexpr std::uint32_t kScratchLen = 128;

struct BlockCipher {
    ALG_ID algId;
    std::uint32_t keyLen;
    std::uint32_t blockLen;
};

const BlockCipher kBlockCiphers[] = {
    {CALG_DES, 8, 8},       {CALG_3DES, 24, 8},     {CALG_3DES_112, 16, 8}, {CALG_AES, 16, 16},
    {CALG_AES_128, 16, 16}, {CALG_AES_192, 24, 16}, {CALG_AES_256, 32, 16},
};

const BlockCipher* FindBlockCipher(ALG_ID algId)
{
    for (const BlockCipher& cipher : kBlockCiphers)
        if (cipher.algId == algId) return &cipher;
    return nullptr;
}

std::uint32_t RequestedBits(DWORD flags)
{
    return flags >> 16;
}

bool HoldsKeyOf(const ProviderContext* context, bool (*isAlg)(std::uint32_t))
{
    return (context->signatureKey.keyLen && isAlg(context->signatureKey.algId)) ||
        (context->exchangeKey.keyLen && isAlg(context->exchangeKey.algId));
}

DWORD MakeRc4Key(ProviderContext* context, DWORD flags, KeyObject* key)
{
    std::uint32_t bits = RequestedBits(flags);
    if (bits == 0) bits = kRc4DefaultBits;
    if (bits % 8 || bits < kRc4MinBits || bits > kRc4MaxBits) return static_cast<DWORD>(NTE_BAD_FLAGS);
    key->algId = CALG_RC4;
    key->keyLen = bits / 8;
    key->blockLen = 0;
    if (!(flags & CRYPT_NO_SALT)) {
        key->salted = 1;
        DWORD status = Token_GenRandom(&context->session, key->keyLen, key->iv);
        if (status != 0) return status;
    }
    return 0;
}

DWORD FillSessionKey(ProviderContext* context, KeyObject* key)
{
    DWORD status = Token_GenRandom(&context->session, key->keyLen, key->key);
    if (status != 0) LogLine("---->dev_GenRandom...\n");
    return status;
}

// The container's key pair of one algorithm, made on the token; the
// context's own key object takes it over.
DWORD GenerateContainerKeyPair(ProviderContext* context, ALG_ID algId, DWORD flags, KeyObject* key)
{
    bool rsa = !IsSm2Alg(algId);
    bool signature = algId == AT_SIGNATURE || algId == CALG_RSA_SIGN || algId == kAlgSm2Sign;
    if (!HasContainer(context)) {
        LogLine("---->NTE_BAD_KEYSET......\n");
        return static_cast<DWORD>(NTE_BAD_KEYSET);
    }
    if (rsa && HoldsKeyOf(context, IsSm2Alg)) {
        LogLine("---->This is a  SM2 Container......\n");
        return kOtherAlgorithmContainer;
    }
    if (!rsa && HoldsKeyOf(context, IsRsaAlg)) {
        LogLine("---->This is a  RSA Container......\n");
        return kOtherAlgorithmContainer;
    }
    std::uint32_t keyLen = kSm2KeyLen;
    if (rsa) {
        std::uint32_t bits = RequestedBits(flags);
        if (bits != 0 && bits != 1024 && bits != 2048) return static_cast<DWORD>(NTE_BAD_FLAGS);
        keyLen = (bits == 2048 ? 2048 : 1024) / 8;
    }
    DWORD status = VerifyUserPin(context, context->newKeySetState != NEWKEYSET_NONE || g_PinVerified != 0);
    if (status != 0) {
        LogLine("----->uk_VerifyUserPin......\n");
        return status;
    }
    if (context->newKeySetState == NEWKEYSET_CREATED) context->newKeySetState = NEWKEYSET_KEY_GENERATED;

    KeyObject& own = signature ? context->signatureKey : context->exchangeKey;
    if (rsa)
        key->algId = signature ? CALG_RSA_SIGN : CALG_RSA_KEYX;
    else
        key->algId = signature ? kAlgSm2Sign : kAlgSm2Keyx;
    key->permissions = signature ? kPermissionsSignatureKey : kPermissionsExchangeKey;
    key->inObject = 0;
    key->keyLen = keyLen;
    key->blockLen = keyLen;
    std::memcpy(key->key, own.key, devicelib::container::kIdLen);
    status = Token_GenerateKeyPair(&context->session, context->containerNumber, key);
    if (status != 0) {
        LogLine("---->dev_GenRSAKeyPair......\n");
        return status;
    }
    own = *key;
    return 0;
}

DWORD MakeKey(ProviderContext* context, ALG_ID algId, DWORD flags, KeyObject* key)
{
    if (algId == CALG_RC4) {
        DWORD status = MakeRc4Key(context, flags, key);
        return status ? status : FillSessionKey(context, key);
    }
    if (const BlockCipher* cipher = FindBlockCipher(algId)) {
        key->algId = algId;
        key->keyLen = cipher->keyLen;
        key->blockLen = cipher->blockLen;
        return FillSessionKey(context, key);
    }
    if (algId == AT_KEYEXCHANGE || algId == AT_SIGNATURE || IsRsaAlg(algId) || IsSm2Alg(algId))
        return GenerateContainerKeyPair(context, algId, flags, key);
    LogLine("---->NTE_BAD_ALGID......\n");
    return static_cast<DWORD>(NTE_BAD_ALGID);
}

void HandOut(KeyObject* key, HCRYPTKEY* phKey)
{
    g_KeyObjects.Add(key);
    *phKey = reinterpret_cast<HCRYPTKEY>(key);
}

void CloseOpenOperation(KeyObject* key)
{
    if (!key->operation || !key->funcs) return;
    if (IsRsaAlg(key->algId) || IsSm2Alg(key->algId)) {
        key->funcs->AsymKeyFinal(key->operation);
    } else if (key->state != kKeyStateStreamDone && key->state != kKeyStateBlockDone) {
        std::uint8_t scratch[kScratchLen];
        std::uint32_t length = sizeof scratch;
        bool encrypting = (key->state & 0xFF) == 1;
        std::uint32_t status = encrypting ? key->funcs->SymKeyEncFinal(key->operation, scratch, &length)
                                          : key->funcs->SymKeyDecFinal(key->operation, scratch, &length);
        if (status != devicelib::UK_OK) {
            LogLine(encrypting ? "---->SymKeyEncFinal Error. Code : " : "---->SymKeyDecFinal Error. Code : ");
            LogCode(status);
        } else {
            key->state = kKeyStateBlockDone;
        }
    }
    key->operation = 0;
}

} // namespace

KeyObject* NewSessionKeyObject()
{
    auto* key = static_cast<KeyObject*>(AllocObject(sizeof(KeyObject)));
    if (!key) return nullptr;
    key->magic = kKeyMagic;
    key->state = kKeyStateFresh;
    key->permissions = kPermissionsSessionKey;
    key->inObject = 1;
    key->mode = kKeyModeEcb;
    key->padding = kKeyPaddingPkcs5;
    return key;
}

KeyObject* LookupKeyObject(HCRYPTKEY handle)
{
    return LookupLive<KeyObject>(handle, g_KeyObjects, kKeyMagic, "---->NTE_BAD_KEY.....\n");
}

DWORD GenKeyImpl(HCRYPTPROV hProv, ALG_ID algId, DWORD flags, HCRYPTKEY* phKey)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    KeyObject* key = NewSessionKeyObject();
    if (!key) {
        LogLine("---->NTE_NO_MEMORY...\n");
        return static_cast<DWORD>(NTE_NO_MEMORY);
    }
    DWORD status = MakeKey(context, algId, flags, key);
    if (status != 0) {
        SecureZeroMemory(key, sizeof *key);
        FreeObject(key);
        return status;
    }
    HandOut(key, phKey);
    return 0;
}

DWORD DeriveKeyImpl(HCRYPTPROV hProv, ALG_ID algId, HCRYPTHASH hHash, DWORD flags, HCRYPTKEY* phKey)
{
    if (!LookupProviderContext(hProv)) return static_cast<DWORD>(NTE_BAD_UID);
    HashObject* hash = LookupHashObject(hHash);
    if (!hash) return static_cast<DWORD>(NTE_BAD_HASH);
    if (hash->state == kHashStateCreated) return static_cast<DWORD>(NTE_BAD_HASH_STATE);
    if (hash->state == kHashStateOpen) {
        std::uint32_t length = hash->hashLen;
        DWORD status = FinishHash(hash, hash->value, &length);
        if (status != 0) {
            LogLine("---->dev_hashfinal....\n");
            return status;
        }
    }
    std::uint32_t keyLen = 0, blockLen = 0;
    if (algId == CALG_RC4) {
        keyLen = kRc4DerivedLen;
    } else if (const BlockCipher* cipher = FindBlockCipher(algId)) {
        keyLen = cipher->keyLen;
        blockLen = cipher->blockLen;
    } else {
        return static_cast<DWORD>(NTE_BAD_TYPE);
    }
    if (hash->hashLen < keyLen) return static_cast<DWORD>(NTE_BAD_HASH);
    if (algId == CALG_RC4 && (flags & CRYPT_UPDATE_KEY)) {
        KeyObject* existing = LookupKeyObject(*phKey);
        if (!existing || existing->algId != CALG_RC4) return static_cast<DWORD>(NTE_BAD_KEY);
        std::memcpy(existing->key, hash->value, kRc4DerivedLen);
        return 0;
    }
    KeyObject* key = NewSessionKeyObject();
    if (!key) return static_cast<DWORD>(NTE_NO_MEMORY);
    key->algId = algId;
    key->keyLen = keyLen;
    key->blockLen = blockLen;
    std::memcpy(key->key, hash->value, keyLen);
    HandOut(key, phKey);
    return 0;
}

DWORD DestroyKeyImpl(HCRYPTPROV hProv, HCRYPTKEY hKey)
{
    if (!LookupProviderContext(hProv)) return static_cast<DWORD>(NTE_BAD_UID);
    KeyObject* key = LookupKeyObject(hKey);
    if (!key) return static_cast<DWORD>(NTE_BAD_KEY);
    CloseOpenOperation(key);
    g_KeyObjects.Remove(key);
    SecureZeroMemory(key, sizeof *key);
    FreeObject(key);
    return 0;
}

DWORD GetUserKeyImpl(HCRYPTPROV hProv, DWORD keySpec, HCRYPTKEY* phKey)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    const KeyObject* own = nullptr;
    if (keySpec == AT_KEYEXCHANGE)
        own = &context->exchangeKey;
    else if (keySpec == AT_SIGNATURE)
        own = &context->signatureKey;
    else
        return static_cast<DWORD>(NTE_BAD_KEY);
    if (own->keyLen == 0) return static_cast<DWORD>(NTE_NO_KEY);
    auto* copy = static_cast<KeyObject*>(AllocObject(sizeof(KeyObject)));
    if (!copy) return static_cast<DWORD>(NTE_NO_MEMORY);
    *copy = *own;
    HandOut(copy, phKey);
    return 0;
}

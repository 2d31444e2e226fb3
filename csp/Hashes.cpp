#include "HashObject.h"

#include "DebugLog.h"
#include "KeyObject.h"
#include "ObjectLists.h"
#include "ProviderContext.h"
#include "TokenKeys.h"
#include "tokencrypto/Sm2.h"

#include <cstring>

namespace {

constexpr char kSm2UserId[] = "1234567812345678";
constexpr unsigned kSm2UserIdLen = 16;
constexpr unsigned kPublicKeyRoom = 2 * kKeyBytesRoom;
constexpr unsigned kScratchLen = 128;
constexpr DWORD kKeepsDataKind = 2;

std::uint32_t HashLength(ALG_ID algId)
{
    switch (algId) {
    case CALG_MD5:
        return 16;
    case CALG_SHA1:
        return 20;
    case CALG_SSL3_SHAMD5:
        return 36;
    case CALG_SHA_256:
    case kAlgSm3:
        return 32;
    default:
        return 0;
    }
}

bool KeepsData(ALG_ID algId)
{
    return algId == CALG_SHA1 || algId == CALG_SHA_256 || algId == kAlgSm3;
}

void Sm2ZValue(const std::uint8_t x[32], const std::uint8_t y[32], std::uint8_t z[32])
{
    tokencrypto::Sm2PublicKey key = {};
    key.bits = 256;
    std::memcpy(key.x, x, 32);
    std::memcpy(key.y, y, 32);
    tokencrypto::SM2_GetZ(&key, reinterpret_cast<const std::uint8_t*>(kSm2UserId), kSm2UserIdLen, z);
}

DWORD PublicZValue(ProviderContext* context, const KeyObject& key, std::uint8_t z[32])
{
    std::uint8_t point[kPublicKeyRoom] = {};
    DWORD status = Token_ExportPublicKey(&context->session, &key, point);
    if (status != 0) {
        LogLine("---->dev_ExportPubKey.....\n");
        return status;
    }
    Sm2ZValue(point, point + 32, z);
    return 0;
}

// An SM2 signature is over SM3(Z || M); Z binds the signer's public key.
// Keys of other algorithms take no Z. A hash that missed Z would sign the
// wrong value, so a failed update fails the creation. When the signature
// key's Z starts the value, an SM2 exchange key's Z starts a second stream;
// without one, that key cannot sign this hash.
DWORD SeedWithZValue(ProviderContext* context, HashObject* hash)
{
    const KeyObject& exchange = context->exchangeKey;
    const KeyObject& key = context->signatureKey.keyLen ? context->signatureKey : exchange;
    hash->exchangeSource = kExchangeTakesNothing;
    if (key.keyLen == 0 || !IsSm2Alg(key.algId)) return 0;
    std::uint8_t z[32];
    DWORD status = PublicZValue(context, key, z);
    if (status == 0) status = Token_HashUpdate(hash, z, sizeof z);
    if (status != 0) return status;
    if (&key == &exchange) {
        hash->exchangeSource = kExchangeTakesValue;
    } else if (exchange.keyLen && IsSm2Alg(exchange.algId) && PublicZValue(context, exchange, z) == 0) {
        tokencrypto::SM3_Init(&hash->exchangeStream);
        tokencrypto::SM3_Update(&hash->exchangeStream, z, sizeof z);
        hash->exchangeSource = kExchangeTakesStream;
    }
    return 0;
}

void CloseTokenHash(HashObject* hash)
{
    if (!hash->tokenHash) return;
    std::uint8_t scratch[kScratchLen];
    std::uint32_t length = sizeof scratch;
    FinishHash(hash, scratch, &length);
}

void FreeHash(HashObject* hash)
{
    FreeObject(hash->keptData);
    SecureZeroMemory(hash, sizeof *hash);
    FreeObject(hash);
}

DWORD KeepChunk(const ProviderContext* context, HashObject* hash, const BYTE* data, DWORD length)
{
    if (hash->keptLen == 0 && context->session.deviceKind == kKeepsDataKind && KeepsData(hash->algId)) {
        if (length > kKeptDataRoom) return static_cast<DWORD>(CRYPT_E_BAD_LEN);
        hash->keptData = static_cast<std::uint8_t*>(AllocObject(kKeptDataRoom));
        if (!hash->keptData) return static_cast<DWORD>(NTE_NO_MEMORY);
        std::memcpy(hash->keptData, data, length);
    } else if (hash->keptData) {
        if (length > kKeptDataRoom - hash->keptLen) return static_cast<DWORD>(CRYPT_E_BAD_LEN);
        std::memcpy(hash->keptData + hash->keptLen, data, length);
    }
    hash->keptLen += length;
    return 0;
}

} // namespace

HashObject* LookupHashObject(HCRYPTHASH handle)
{
    return LookupLive<HashObject>(handle, g_HashObjects, kHashMagic, "---->NTE_BAD_HASH...\n");
}

DWORD CreateHashImpl(HCRYPTPROV hProv, ALG_ID algId, HCRYPTKEY hKey, DWORD flags, HCRYPTHASH* phHash)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    if (hKey != 0) {
        LogLine("---->NTE_BAD_KEY...\n");
        return static_cast<DWORD>(NTE_BAD_KEY);
    }
    if (flags != 0) {
        LogLine("---->NTE_BAD_FLAGS...\n");
        return static_cast<DWORD>(NTE_BAD_FLAGS);
    }
    std::uint32_t hashLen = HashLength(algId);
    if (hashLen == 0) {
        LogLine("---->NTE_BAD_ALGID.  ALGID :");
        LogCode(algId);
        return static_cast<DWORD>(NTE_BAD_ALGID);
    }
    auto* hash = static_cast<HashObject*>(AllocObject(sizeof(HashObject)));
    if (!hash) {
        LogLine("---->NTE_NO_MEMORY...\n");
        return static_cast<DWORD>(NTE_NO_MEMORY);
    }
    hash->magic = kHashMagic;
    hash->algId = algId;
    hash->state = kHashStateCreated;
    hash->hashLen = hashLen;
    if (Token_HashInit(&context->session, algId, hash) != 0) {
        LogLine("---->dev_HashInit.....\n");
        FreeHash(hash);
        return static_cast<DWORD>(NTE_BAD_DATA);
    }
    if (algId == kAlgSm3) {
        DWORD status = SeedWithZValue(context, hash);
        if (status != 0) {
            CloseTokenHash(hash);
            FreeHash(hash);
            return status;
        }
    }
    g_HashObjects.Add(hash);
    *phHash = reinterpret_cast<HCRYPTHASH>(hash);
    return 0;
}

DWORD DestroyHashImpl(HCRYPTPROV hProv, HCRYPTHASH hHash)
{
    if (!LookupProviderContext(hProv)) return static_cast<DWORD>(NTE_BAD_UID);
    HashObject* hash = LookupHashObject(hHash);
    if (!hash) return static_cast<DWORD>(NTE_BAD_HASH);
    CloseTokenHash(hash);
    g_HashObjects.Remove(hash);
    FreeHash(hash);
    return 0;
}

DWORD HashDataImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* data, DWORD length, DWORD flags)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    HashObject* hash = LookupHashObject(hHash);
    if (!hash) return static_cast<DWORD>(NTE_BAD_HASH);
    if (flags > CRYPT_USERDATA) return static_cast<DWORD>(NTE_BAD_FLAGS);
    if (length == 0) return 0;
    if (!data) return ERROR_INVALID_PARAMETER;
    // An SSL3 SHAMD5 hash has no token hash to feed: its value is set.
    if (hash->state != kHashStateOpen) return static_cast<DWORD>(NTE_BAD_HASH_STATE);
    DWORD status = KeepChunk(context, hash, data, length);
    if (status != 0) return status;
    if (Token_HashUpdate(hash, data, length) != 0) {
        LogLine("---->dev_hashUpdate......\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    return 0;
}

DWORD HashSessionKeyImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, HCRYPTKEY hKey, DWORD flags)
{
    if (!LookupProviderContext(hProv)) return static_cast<DWORD>(NTE_BAD_UID);
    KeyObject* key = LookupKeyObject(hKey);
    if (!key || IsRsaAlg(key->algId) || IsSm2Alg(key->algId)) return static_cast<DWORD>(NTE_BAD_KEY);
    HashObject* hash = LookupHashObject(hHash);
    if (!hash) return static_cast<DWORD>(NTE_BAD_HASH);
    if (hash->state != kHashStateOpen) return static_cast<DWORD>(NTE_BAD_HASH_STATE);
    if (flags > CRYPT_LITTLE_ENDIAN) return static_cast<DWORD>(NTE_BAD_FLAGS);
    std::uint8_t bytes[kKeyBytesRoom];
    std::uint32_t length = key->keyLen < kKeyBytesRoom ? key->keyLen : kKeyBytesRoom;
    for (std::uint32_t i = 0; i < length; ++i)
        bytes[i] = flags == CRYPT_LITTLE_ENDIAN ? key->key[length - 1 - i] : key->key[i];
    DWORD status = Token_HashUpdate(hash, bytes, length);
    SecureZeroMemory(bytes, sizeof bytes);
    if (status != 0) {
        LogLine("---->dev_HashUpdate.....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    return 0;
}

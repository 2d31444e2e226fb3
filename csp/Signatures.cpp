#include "CryptOperations.h"

#include "DebugLog.h"
#include "HashObject.h"
#include "ProviderContext.h"
#include "TokenAsymKey.h"
#include "TokenKeys.h"
#include "UserPin.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kTokenOutputRoom = 512;
constexpr std::uint32_t kSm2Half = 32;

// PKCS #1 v1.5 DigestInfo prefixes.
constexpr std::uint8_t kMd5Prefix[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                       0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr std::uint8_t kSha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                        0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr std::uint8_t kSha256Prefix[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                          0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

struct Block {
    std::uint8_t bytes[sizeof kSha256Prefix + 68];
    std::uint32_t length;
};

// The value a key signs or checks: the container's SM2 exchange key may
// have its own (see HashObject.h); null when it has none. Data the token
// hashes itself needs no value.
const std::uint8_t* ValueFor(const KeyObject* key, const HashObject* hash)
{
    if (hash->keptData || key->algId != kAlgSm2Keyx || key->inObject) return hash->value;
    if (hash->exchangeSource == kExchangeTakesStream) return hash->exchangeValue;
    return hash->exchangeSource == kExchangeTakesNothing ? nullptr : hash->value;
}

// The DigestInfo (RSA) or the bare value (SM2, or CRYPT_NOHASHOID) of a
// finished hash.
void BuildBlock(const KeyObject* key, const HashObject* hash, DWORD flags, Block* block)
{
    const std::uint8_t* prefix = nullptr;
    std::uint32_t prefixLen = 0;
    if (IsRsaAlg(key->algId) && !(flags & CRYPT_NOHASHOID)) {
        if (hash->algId == CALG_MD5) prefix = kMd5Prefix, prefixLen = sizeof kMd5Prefix;
        if (hash->algId == CALG_SHA1) prefix = kSha1Prefix, prefixLen = sizeof kSha1Prefix;
        if (hash->algId == CALG_SHA_256) prefix = kSha256Prefix, prefixLen = sizeof kSha256Prefix;
    }
    if (prefixLen) std::memcpy(block->bytes, prefix, prefixLen);
    std::memcpy(block->bytes + prefixLen, ValueFor(key, hash), hash->hashLen);
    block->length = prefixLen + hash->hashLen;
}

std::uint32_t SignatureSize(const KeyObject* key)
{
    return IsRsaAlg(key->algId) ? key->keyLen : 2 * key->keyLen;
}

DWORD EnsureFinished(HashObject* hash)
{
    if (hash->state == kHashStateFinished) return 0;
    // A hash with no token hash behind it (SSL3 SHAMD5) has no value until
    // one is set.
    if (hash->state != kHashStateOpen) return static_cast<DWORD>(NTE_BAD_HASH_STATE);
    std::uint32_t length = hash->hashLen;
    DWORD error = FinishHash(hash, hash->value, &length);
    if (error) LogLine("---->dev_HashFinal.....\n");
    return error;
}

// CryptoAPI keeps signatures little-endian: RSA as one number, SM2 as r
// then s, each reversed on its own.
void ToCryptoApiOrder(const KeyObject* key, const std::uint8_t* token, std::uint32_t length, BYTE* out)
{
    if (IsRsaAlg(key->algId)) {
        std::reverse_copy(token, token + length, out);
        return;
    }
    std::reverse_copy(token, token + kSm2Half, out);
    std::reverse_copy(token + kSm2Half, token + 2 * kSm2Half, out + kSm2Half);
}

void FromCryptoApiOrder(const KeyObject* key, const BYTE* in, std::uint32_t length, std::uint8_t* token)
{
    if (IsRsaAlg(key->algId)) {
        std::reverse_copy(in, in + length, token);
        return;
    }
    std::reverse_copy(in, in + kSm2Half, token);
    std::reverse_copy(in + kSm2Half, in + 2 * kSm2Half, token + kSm2Half);
}

// How the token takes the data: the block, or the data kept for it to
// hash itself, as an unchecked or a checked document. A field the token
// would refuse stops the signature before anyone is asked for the PIN.
DWORD SigningMode(const HashObject* hash, std::uint32_t* modeWord)
{
    *modeWord = devicelib::UK_SIGN_BLOCK;
    if (!hash->keptData) return 0;
    DWORD check = ParseSignedXml(hash->keptData, hash->keptLen);
    // The check's own code means nothing to CryptoAPI callers.
    if (check == kSignedXmlFieldTooLong) return static_cast<DWORD>(NTE_FAIL);
    *modeWord = check ? 2 : 1;
    return 0;
}

DWORD SignOnToken(ProviderContext* context, KeyObject* key, HashObject* hash, std::uint32_t modeWord,
                  const Block& block, BYTE* signature, DWORD size)
{
    std::uint32_t modeByte = IsRsaAlg(key->algId) && hash->algId == CALG_SHA_256 ? 2 : 0;
    DWORD error = Token_AsymKeyInit(&context->session, ASYM_PRIVATE_SIGN, key);
    if (error) {
        LogLine("---->HashFinal Error. Code : ");
        LogCode(error);
        LogLine("---->dev_AsymInit....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    std::uint8_t output[kTokenOutputRoom] = {};
    std::uint32_t outputLen = kTokenOutputRoom;
    const std::uint8_t* data = hash->keptData ? hash->keptData : block.bytes;
    std::uint32_t dataLen = hash->keptData ? hash->keptLen : block.length;
    std::uint32_t status =
        key->funcs->PrikeySign(key->operation, modeWord, modeByte, data, dataLen, output, &outputLen);
    Token_AsymKeyFinal(key);
    if (status != devicelib::UK_OK) {
        LogLine("---->PriKeySign Error. Code : ");
        LogCode(status);
        LogLine("---->dev_PriKeySign....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    // Only a signature of exactly the announced size fits the caller's
    // buffer and means what the caller expects.
    if (outputLen != size) {
        LogLine("---->PriKeySign length. Code : ");
        LogCode(outputLen);
        return static_cast<DWORD>(NTE_FAIL);
    }
    ToCryptoApiOrder(key, output, outputLen, signature);
    return 0;
}

} // namespace

DWORD SignHashImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD keySpec, DWORD flags, BYTE* signature, DWORD* signatureLen)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    if ((context->flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT) return static_cast<DWORD>(NTE_PERM);
    HashObject* hash = LookupHashObject(hHash);
    if (!hash) return static_cast<DWORD>(NTE_BAD_HASH);
    if (flags & ~static_cast<DWORD>(CRYPT_NOHASHOID)) return static_cast<DWORD>(NTE_BAD_FLAGS);
    if (keySpec == 0 || keySpec > AT_SIGNATURE) return static_cast<DWORD>(NTE_BAD_TYPE);

    // The caller names the key: a signature with the other pair would not
    // verify against the certificate the caller chose.
    KeyObject* key = keySpec == AT_SIGNATURE ? &context->signatureKey : &context->exchangeKey;
    if (!key->keyLen) return static_cast<DWORD>(NTE_NO_KEY);
    DWORD size = SignatureSize(key);
    if (!signature) {
        *signatureLen = size;
        return 0;
    }
    if (*signatureLen < size) {
        *signatureLen = size;
        return static_cast<DWORD>(NTE_BUFFER_TOO_SMALL);
    }
    if (hash->state == kHashStateCreated || !ValueFor(key, hash)) return static_cast<DWORD>(NTE_BAD_HASH_STATE);
    std::uint32_t modeWord = 0;
    DWORD error = SigningMode(hash, &modeWord);
    if (error) return error;

    error = VerifyUserPin(context, hash->algId == CALG_SSL3_SHAMD5);
    if (error) {
        LogLine("---->uk_VerifyUserPin....\n");
        return error;
    }
    error = EnsureFinished(hash);
    if (error) return error;
    Block block;
    BuildBlock(key, hash, flags, &block);
    if (context->newKeySetState == NEWKEYSET_KEY_GENERATED) {
        g_PinVerified = 1;
        context->newKeySetState = NEWKEYSET_NONE;
    }
    error = SignOnToken(context, key, hash, modeWord, block, signature, size);
    SecureZeroMemory(&block, sizeof block);
    if (error) return error;
    *signatureLen = size;
    return 0;
}

DWORD VerifySignatureImpl(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* signature, DWORD signatureLen,
                          HCRYPTKEY hPubKey, DWORD flags)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    if (flags & ~static_cast<DWORD>(CRYPT_NOHASHOID)) return static_cast<DWORD>(NTE_BAD_FLAGS);
    HashObject* hash = LookupHashObject(hHash);
    if (!hash) return static_cast<DWORD>(NTE_BAD_HASH);
    KeyObject* key = LookupKeyObject(hPubKey);
    if (!key) return static_cast<DWORD>(NTE_BAD_KEY);
    if (!IsRsaAlg(key->algId) && !IsSm2Alg(key->algId)) return static_cast<DWORD>(NTE_BAD_TYPE);
    if (signatureLen != SignatureSize(key) || signatureLen > kTokenOutputRoom) return static_cast<DWORD>(NTE_BAD_DATA);

    std::uint8_t tokenOrder[kTokenOutputRoom];
    FromCryptoApiOrder(key, signature, signatureLen, tokenOrder);
    std::uint8_t output[kTokenOutputRoom] = {};
    std::uint32_t outputLen = kTokenOutputRoom;
    bool rsa = IsRsaAlg(key->algId);
    if (!rsa) {
        if (!ValueFor(key, hash)) return static_cast<DWORD>(NTE_BAD_HASH_STATE);
        DWORD error = EnsureFinished(hash);
        if (error) return error;
        std::memcpy(output, tokenOrder, signatureLen);
        outputLen = signatureLen;
    }
    if (Token_AsymKeyInit(&context->session, ASYM_PUBLIC_VERIFY, key)) return static_cast<DWORD>(NTE_FAIL);
    std::uint32_t status = rsa
        ? key->funcs->PubKeyVerify(key->operation, tokenOrder, signatureLen, output, &outputLen)
        : key->funcs->PubKeyVerify(key->operation, ValueFor(key, hash), hash->hashLen, output, &outputLen);
    Token_AsymKeyFinal(key);
    if (status != devicelib::UK_OK) {
        LogLine("---->PubKeyVerify Error. Code : ");
        LogCode(status);
        LogLine("---->dev_PubKeyVerify....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    if (!rsa) return 0;

    DWORD error = EnsureFinished(hash);
    if (error) return error;
    Block block;
    BuildBlock(key, hash, flags, &block);
    if (outputLen != block.length || std::memcmp(output, block.bytes, block.length) != 0) {
        return static_cast<DWORD>(NTE_BAD_SIGNATURE);
    }
    return 0;
}

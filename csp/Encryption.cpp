#include "CryptOperations.h"

#include "DebugLog.h"
#include "HashObject.h"
#include "ProviderContext.h"
#include "TokenAsymKey.h"
#include "TokenKeys.h"
#include "TokenSymKey.h"
#include "UserPin.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kRc4KeyAndSaltLen = 16;
constexpr std::uint32_t kFinalBlockRoom = 512;
constexpr std::uint8_t kSm2PointFormat = 0x04;

enum class Direction { Encrypt, Decrypt };

struct Operands {
    ProviderContext* context;
    KeyObject* key;
    HashObject* hash; // or null
};

DWORD LookUp(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, DWORD flags, Operands* out)
{
    out->context = LookupProviderContext(hProv);
    if (!out->context) return static_cast<DWORD>(NTE_BAD_UID);
    out->key = LookupKeyObject(hKey);
    if (!out->key) return static_cast<DWORD>(NTE_BAD_KEY);
    out->hash = nullptr;
    if (hHash) {
        out->hash = LookupHashObject(hHash);
        if (!out->hash) return static_cast<DWORD>(NTE_BAD_HASH);
        if (out->hash->state == kHashStateFinished) return static_cast<DWORD>(NTE_BAD_HASH_STATE);
    }
    if (flags != 0) return static_cast<DWORD>(NTE_BAD_FLAGS);
    return 0;
}

bool IsExchangeAlg(std::uint32_t algId)
{
    return algId == CALG_RSA_KEYX || algId == kAlgSm2Keyx;
}

std::uint32_t EncryptedSize(const KeyObject* key, std::uint32_t dataLen)
{
    if (key->algId == CALG_RSA_KEYX) return key->keyLen;
    if (key->algId == kAlgSm2Keyx) return dataLen + 3 * key->keyLen + 1;
    return dataLen + key->blockLen;
}

// The standard RC4 schedule over the key bytes, followed by the salt up to
// 16 bytes when the key is salted.
void Rc4Schedule(KeyObject* key)
{
    std::uint8_t material[kRc4KeyAndSaltLen * 2] = {};
    std::uint32_t length = std::min<std::uint32_t>(key->keyLen, sizeof material);
    std::memcpy(material, key->key, length);
    if (key->salted && length < kRc4KeyAndSaltLen) {
        std::memcpy(material + length, key->iv, kRc4KeyAndSaltLen - length);
        length = kRc4KeyAndSaltLen;
    }
    for (unsigned n = 0; n < 256; ++n) key->rc4State[n] = static_cast<std::uint8_t>(n);
    std::uint32_t j = 0;
    for (unsigned n = 0; n < 256 && length; ++n) {
        j = (j + key->rc4State[n] + material[n % length]) & 0xFF;
        std::swap(key->rc4State[n], key->rc4State[j]);
    }
    SecureZeroMemory(material, sizeof material);
    key->mode = 0;
    key->padding = 0;
}

// Stream indices i and j stay in the key (mode and padding) between calls.
void Rc4Crypt(KeyObject* key, std::uint8_t* data, std::uint32_t length)
{
    std::uint32_t i = key->mode, j = key->padding;
    std::uint8_t* s = key->rc4State;
    for (std::uint32_t n = 0; n < length; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[n] ^= s[(s[i] + s[j]) & 0xFF];
    }
    key->mode = i;
    key->padding = j;
}

void RunRc4(KeyObject* key, BOOL final, BYTE* data, DWORD length)
{
    if (key->state == kKeyStateFresh || key->state == kKeyStateStreamDone) {
        Rc4Schedule(key);
        key->state = kKeyStateOpen;
    }
    Rc4Crypt(key, data, length);
    if (final) key->state = kKeyStateStreamDone;
}

// Public-key encryption on the token; the result goes out little-endian,
// an SM2 ciphertext without its point-format byte.
DWORD EncryptAsym(const Operands& op, BYTE* data, DWORD* dataLen, DWORD bufferLen)
{
    DWORD error = Token_AsymKeyInit(&op.context->session, ASYM_PUBLIC_ENCRYPT, op.key);
    if (error) {
        LogLine("----->dev_asymInit.....\n");
        return error;
    }
    std::vector<std::uint8_t> output(bufferLen + kFinalBlockRoom);
    std::uint32_t outputLen = bufferLen;
    std::uint32_t status = op.key->funcs->PubkeyEnc(op.key->operation, data, *dataLen, output.data(), &outputLen);
    Token_AsymKeyFinal(op.key);
    if (status != devicelib::UK_OK) {
        LogFailure("---->PubkeyEnc Error. Code : ", status, "----->dev_PubKeyEnc.....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    const std::uint8_t* result = output.data();
    if (op.key->algId == kAlgSm2Keyx) {
        if (outputLen == 0 || output[0] != kSm2PointFormat) return static_cast<DWORD>(NTE_FAIL);
        ++result;
        --outputLen;
    }
    if (outputLen > bufferLen) return static_cast<DWORD>(NTE_FAIL);
    if (op.key->algId == CALG_RSA_KEYX)
        std::reverse_copy(result, result + outputLen, data);
    else
        std::memcpy(data, result, outputLen);
    *dataLen = outputLen;
    return 0;
}

// Private-key decryption on the token after the user PIN; the input comes
// little-endian (RSA) or without its point-format byte (SM2).
DWORD DecryptAsym(const Operands& op, BYTE* data, DWORD* dataLen)
{
    DWORD error = VerifyUserPin(op.context, false);
    if (error) {
        LogLine("---->uk_VerifyUserPin....\n");
        return error;
    }
    std::vector<std::uint8_t> input;
    if (op.key->algId == CALG_RSA_KEYX) {
        input.assign(data, data + *dataLen);
        std::reverse(input.begin(), input.end());
    } else {
        input.push_back(kSm2PointFormat);
        input.insert(input.end(), data, data + *dataLen);
    }
    error = Token_AsymKeyInit(&op.context->session, ASYM_PRIVATE_DECRYPT, op.key);
    if (error) {
        LogFailure("---->HashFinal Error. Code : ", error, "----->dev_asymInit.....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    std::vector<std::uint8_t> output(input.size() + kFinalBlockRoom);
    std::uint32_t outputLen = static_cast<std::uint32_t>(output.size());
    std::uint32_t status = op.key->funcs->PrikeyDec(
        op.key->operation, input.data(), static_cast<std::uint32_t>(input.size()), output.data(), &outputLen);
    Token_AsymKeyFinal(op.key);
    SecureZeroMemory(input.data(), input.size());
    if (status != devicelib::UK_OK) {
        LogFailure("---->PrikeyDec Error. Code : ", status, "----->dev_PriKeyDec.....\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    // A plaintext is never longer than its ciphertext.
    if (outputLen > *dataLen) return static_cast<DWORD>(NTE_FAIL);
    std::memcpy(data, output.data(), outputLen);
    SecureZeroMemory(output.data(), output.size());
    *dataLen = outputLen;
    return 0;
}

// A failed step ends the key's operation, on the token too unless the
// token already ended it, so that the next call starts afresh.
void AbandonBlockCipher(KeyObject* key, bool encrypt, bool openOnToken)
{
    if (openOnToken && key->operation && key->funcs) {
        std::uint8_t scratch[kFinalBlockRoom];
        std::uint32_t scratchLen = sizeof scratch;
        if (encrypt)
            key->funcs->SymKeyEncFinal(key->operation, scratch, &scratchLen);
        else
            key->funcs->SymKeyDecFinal(key->operation, scratch, &scratchLen);
        SecureZeroMemory(scratch, sizeof scratch);
    }
    key->operation = 0;
    key->state = kKeyStateBlockDone;
}

// DES, 3DES and AES on the token: one operation from the first call to the
// final one. room: what the caller's buffer holds.
DWORD RunBlockCipher(const Operands& op, Direction direction, BOOL final, BYTE* data, DWORD* dataLen, DWORD room)
{
    bool encrypt = direction == Direction::Encrypt;
    KeyObject* key = op.key;
    if (key->state == kKeyStateFresh || key->state == kKeyStateStreamDone || key->state == kKeyStateBlockDone) {
        DWORD error = Token_SymKeyInit(&op.context->session, key, encrypt);
        if (error) {
            LogLine(encrypt ? "----->dev_SymKeyEncInit.....\n" : "----->dev_SymKeyDecInit.....\n");
            return error;
        }
    }
    std::vector<std::uint8_t> output(*dataLen + 2 * kFinalBlockRoom);
    std::uint32_t outputLen = static_cast<std::uint32_t>(output.size());
    std::uint32_t status = encrypt
        ? key->funcs->SymKeyEncUpdate(key->operation, data, *dataLen, output.data(), &outputLen)
        : key->funcs->SymKeyDecUpdate(key->operation, data, *dataLen, output.data(), &outputLen);
    if (status != devicelib::UK_OK) {
        LogFailure(encrypt ? "---->SymKeyEncUpdate Error. Code : " : "---->SymKeyDecUpdate Error. Code : ", status,
                   encrypt ? "----->dev_SymKeyEncUpdate.....\n" : "----->dev_SymKeyDecUpdate.....\n");
        AbandonBlockCipher(key, encrypt, true);
        return static_cast<DWORD>(NTE_FAIL);
    }
    if (final) {
        std::uint32_t lastLen = kFinalBlockRoom;
        if (outputLen > output.size() - kFinalBlockRoom) {
            AbandonBlockCipher(key, encrypt, true);
            return static_cast<DWORD>(NTE_FAIL);
        }
        status = encrypt ? key->funcs->SymKeyEncFinal(key->operation, output.data() + outputLen, &lastLen)
                         : key->funcs->SymKeyDecFinal(key->operation, output.data() + outputLen, &lastLen);
        if (status != devicelib::UK_OK) {
            LogFailure(encrypt ? "---->SymKeyEncFinal Error. Code : " : "---->SymKeyDecFinal Error. Code : ", status,
                       encrypt ? "----->dev_SymKeyEncFinal.....\n" : "----->dev_SymKeyDecFinal.....\n");
            AbandonBlockCipher(key, encrypt, false);
            return static_cast<DWORD>(NTE_FAIL);
        }
        outputLen += std::min<std::uint32_t>(lastLen, kFinalBlockRoom);
        key->operation = 0;
        key->state = kKeyStateBlockDone;
    }
    // The token never writes past what the caller's buffer holds.
    if (outputLen > room) {
        SecureZeroMemory(output.data(), output.size());
        AbandonBlockCipher(key, encrypt, true);
        return static_cast<DWORD>(NTE_BUFFER_TOO_SMALL);
    }
    std::memcpy(data, output.data(), outputLen);
    SecureZeroMemory(output.data(), output.size());
    *dataLen = outputLen;
    return 0;
}

DWORD HashPlaintext(HCRYPTPROV hProv, HCRYPTHASH hHash, HashObject* hash, BOOL final, const BYTE* data, DWORD length)
{
    if (!hash) return 0;
    DWORD error = HashDataImpl(hProv, hHash, data, length, 0);
    if (error) {
        LogLine("---->dev_hashUpdate......\n");
        return error;
    }
    if (final && hash->state == kHashStateOpen) {
        std::uint32_t valueLen = hash->hashLen;
        error = FinishHash(hash, hash->value, &valueLen);
        if (error) LogLine("---->dev_HashFinal.....\n");
    }
    return error;
}

} // namespace

DWORD EncryptImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLen, DWORD bufferLen)
{
    Operands op;
    DWORD error = LookUp(hProv, hKey, hHash, flags, &op);
    if (error) return error;
    if (!dataLen) return ERROR_INVALID_PARAMETER;
    DWORD size = EncryptedSize(op.key, *dataLen);
    if (!data) {
        *dataLen = size;
        return 0;
    }
    if (*dataLen == 0) return 0;
    if (bufferLen < size) return static_cast<DWORD>(NTE_BUFFER_TOO_SMALL);
    if (IsSignatureAlg(op.key->algId)) return static_cast<DWORD>(NTE_BAD_KEY);

    error = HashPlaintext(hProv, hHash, op.hash, final, data, *dataLen);
    if (error) return error;
    if (op.key->algId == CALG_RC4) {
        RunRc4(op.key, final, data, *dataLen);
        return 0;
    }
    if (IsExchangeAlg(op.key->algId)) return EncryptAsym(op, data, dataLen, bufferLen);
    return RunBlockCipher(op, Direction::Encrypt, final, data, dataLen, bufferLen);
}

DWORD DecryptImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, DWORD flags, BYTE* data,
                  DWORD* dataLen)
{
    Operands op;
    DWORD error = LookUp(hProv, hKey, hHash, flags, &op);
    if (error) return error;
    if (!data || !dataLen || *dataLen == 0) return 0;
    if (IsSignatureAlg(op.key->algId)) return static_cast<DWORD>(NTE_BAD_KEY);

    if (op.key->algId == CALG_RC4) {
        RunRc4(op.key, final, data, *dataLen);
    } else if (IsExchangeAlg(op.key->algId)) {
        error = DecryptAsym(op, data, dataLen);
    } else {
        error = RunBlockCipher(op, Direction::Decrypt, final, data, dataLen, *dataLen);
    }
    if (error) return error;
    return HashPlaintext(hProv, hHash, op.hash, final, data, *dataLen);
}

#include "KeyBlobs.h"

#include "DebugLog.h"
#include "ObjectLists.h"
#include "ProviderContext.h"
#include "tokencrypto/Sm2PointCheck.h"
#include "TokenAsymKey.h"
#include "TokenKeys.h"
#include "TokenSymKey.h"
#include "UserPin.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kBlobVersion = 2;
constexpr std::uint32_t kHeaderLen = 8;          // BLOBHEADER
constexpr std::uint32_t kSimpleHeaderLen = 12;   // BLOBHEADER and the wrapping ALG_ID
constexpr std::uint32_t kRsaHeaderLen = 20;      // BLOBHEADER and RSAPUBKEY
constexpr std::uint32_t kSm2PublicBlobLen = 140; // BLOBHEADER, bit length, x and y fields
constexpr std::uint32_t kSm2FieldLen = 64;
constexpr std::uint32_t kSm2CoordinateLen = 32;
constexpr std::uint32_t kSm2PrivateBlobLen = 80;
constexpr std::uint32_t kSm2PrivateBodyLen = 62;
constexpr std::uint32_t kRsaMagicPublic = 0x31415352;  // "RSA1"
constexpr std::uint32_t kRsaMagicPrivate = 0x32415352; // "RSA2"
constexpr std::uint32_t kRsaPublicExponent = 65537;
constexpr std::uint32_t kRsaMinBits = 1024;
constexpr std::uint32_t kRsaMaxBits = 2048;
constexpr std::uint32_t kWrapRoom = 512;
constexpr std::uint32_t kSm2UnwrapRoom = 256;
constexpr std::uint32_t kBodyRoom = 2048;
constexpr std::uint32_t kTripleDesKeyLen = 24;
constexpr std::uint32_t kRecordRoom = 4096; // bound of the encrypted record's SEQUENCE
constexpr std::uint8_t kSm2PointFormat = 0x04;
constexpr std::uint8_t kDerSequence = 0x30;

struct BlobHeader {
    std::uint8_t type;
    std::uint8_t version;
    std::uint16_t reserved;
    std::uint32_t algId;
};

std::uint32_t ReadWord(const BYTE* data, std::uint32_t offset)
{
    std::uint32_t word;
    std::memcpy(&word, data + offset, sizeof word);
    return word;
}

void WriteWord(BYTE* data, std::uint32_t offset, std::uint32_t word)
{
    std::memcpy(data + offset, &word, sizeof word);
}

void WriteHeader(BYTE* data, std::uint8_t type, std::uint32_t algId)
{
    BlobHeader header = {type, kBlobVersion, 0, algId};
    std::memcpy(data, &header, sizeof header);
}

// The header of an exported key: RSA's names its magic, bit length and
// exponent; SM2's its bit length alone.
void WriteKeyBlobHeader(BYTE* data, std::uint8_t type, const KeyObject* key, bool rsa, std::uint32_t rsaMagic)
{
    WriteHeader(data, type, key->algId);
    if (!rsa) {
        WriteWord(data, kHeaderLen, key->keyLen * 8);
        return;
    }
    WriteWord(data, kHeaderLen, rsaMagic);
    WriteWord(data, kHeaderLen + 4, key->keyLen * 8);
    WriteWord(data, kHeaderLen + 8, kRsaPublicExponent);
}

const BYTE* ReadPointer(const BYTE* data, std::uint32_t offset)
{
    const BYTE* pointer;
    std::memcpy(&pointer, data + offset, sizeof pointer);
    return pointer;
}

bool IsWrappableAlg(std::uint32_t algId)
{
    switch (algId) {
    case CALG_DES:
    case CALG_3DES:
    case CALG_3DES_112:
    case CALG_AES:
    case CALG_AES_128:
    case CALG_AES_192:
    case CALG_AES_256:
    case CALG_RC4:
        return true;
    default:
        return false;
    }
}

std::uint32_t BlockLength(std::uint32_t algId)
{
    if (algId == CALG_RC4) return 0;
    return algId == CALG_DES || algId == CALG_3DES || algId == CALG_3DES_112 ? 8 : 16;
}

// The key bytes each wrappable algorithm takes; RC4 from 40 to 128 bits.
bool FitsSessionKey(std::uint32_t algId, std::size_t length)
{
    switch (algId) {
    case CALG_DES:
        return length == 8;
    case CALG_3DES:
    case CALG_AES_192:
        return length == 24;
    case CALG_3DES_112:
    case CALG_AES:
    case CALG_AES_128:
        return length == 16;
    case CALG_AES_256:
        return length == 32;
    case CALG_RC4:
        return length >= 5 && length <= 16;
    default:
        return false;
    }
}

bool HoldsKeyOf(const ProviderContext* context, bool (*isAlg)(std::uint32_t))
{
    return (context->signatureKey.keyLen && isAlg(context->signatureKey.algId)) ||
        (context->exchangeKey.keyLen && isAlg(context->exchangeKey.algId));
}

// One private-key operation on the token: open, decrypt, close.
DWORD DecryptOnToken(ProviderContext* context, KeyObject* key, const std::uint8_t* input, std::uint32_t inputLen,
                     std::vector<std::uint8_t>* output, const char* initStep, const char* decStep)
{
    DWORD error = Token_AsymKeyInit(&context->session, ASYM_PRIVATE_DECRYPT, key);
    if (error) {
        LogFailure("---->HashFinal Error. Code : ", error, initStep);
        return static_cast<DWORD>(NTE_FAIL);
    }
    std::uint32_t outputLen = static_cast<std::uint32_t>(output->size());
    std::uint32_t status = key->funcs->PrikeyDec(key->operation, input, inputLen, output->data(), &outputLen);
    Token_AsymKeyFinal(key);
    if (status != devicelib::UK_OK) {
        LogFailure("---->PrikeyDec Error. Code : ", status, decStep);
        return static_cast<DWORD>(NTE_FAIL);
    }
    output->resize(std::min<std::size_t>(outputLen, output->size()));
    return 0;
}

void ClearAndFree(KeyObject* key)
{
    SecureZeroMemory(key, sizeof *key);
    FreeObject(key);
}

DWORD ImportSimpleBlob(ProviderContext* context, const BYTE* data, DWORD dataLen, KeyObject* unwrapKey,
                       KeyObject* result)
{
    if (!unwrapKey) return ERROR_INVALID_PARAMETER;
    if (unwrapKey->inObject) return static_cast<DWORD>(NTE_BAD_KEY);
    BlobHeader header;
    std::memcpy(&header, data, sizeof header);
    if (header.version != kBlobVersion) return static_cast<DWORD>(NTE_BAD_VER);
    if (IsRsaAlg(unwrapKey->algId)) {
        if (dataLen != unwrapKey->keyLen + kSimpleHeaderLen) {
            LogLine("---->cbDatalen is valid...\n");
            return static_cast<DWORD>(NTE_BAD_DATA);
        }
    } else if (IsSm2Alg(unwrapKey->algId)) {
        if (dataLen <= 3 * unwrapKey->keyLen + kSimpleHeaderLen) {
            LogLine("---->cbDatalen is valid...\n");
            return static_cast<DWORD>(NTE_BAD_DATA);
        }
    } else {
        return static_cast<DWORD>(NTE_BAD_KEY);
    }
    if (!IsWrappableAlg(header.algId)) return static_cast<DWORD>(NTE_BAD_TYPE);
    DWORD error = VerifyUserPin(context, false);
    if (error) return error;
    // The wrapped key travels reversed, as the export writes it.
    std::vector<std::uint8_t> wrapped(data + kSimpleHeaderLen, data + dataLen);
    std::reverse(wrapped.begin(), wrapped.end());
    std::vector<std::uint8_t> plain(wrapped.size() + kWrapRoom);
    error = DecryptOnToken(context, unwrapKey, wrapped.data(), static_cast<std::uint32_t>(wrapped.size()), &plain,
                           "---->dev_AsymInit......\n", "---->dev_PriKeyDec......\n");
    if (error) return error;
    DWORD status = 0;
    if (!FitsSessionKey(header.algId, plain.size())) {
        status = static_cast<DWORD>(NTE_BAD_DATA);
    } else {
        result->algId = header.algId;
        result->keyLen = static_cast<std::uint32_t>(plain.size());
        result->blockLen = BlockLength(header.algId);
        std::memcpy(result->key, plain.data(), plain.size());
    }
    SecureZeroMemory(plain.data(), plain.size());
    return status;
}

DWORD ImportPublicKeyBlob(const BYTE* data, DWORD dataLen, KeyObject* result)
{
    BlobHeader header;
    std::memcpy(&header, data, sizeof header);
    if (header.version != kBlobVersion) return static_cast<DWORD>(NTE_BAD_VER);
    if (IsRsaAlg(header.algId)) {
        // Verification hands the token the exponent 65537 whatever came in.
        if (dataLen <= kRsaHeaderLen || ReadWord(data, kHeaderLen) != kRsaMagicPublic ||
            ReadWord(data, kHeaderLen + 8) != kRsaPublicExponent)
            return static_cast<DWORD>(NTE_BAD_DATA);
        std::uint32_t keyLen = ReadWord(data, kHeaderLen + 4) / 8;
        if (dataLen != keyLen + kRsaHeaderLen || keyLen > kKeyBytesRoom) return static_cast<DWORD>(NTE_BAD_DATA);
        result->algId = CALG_RSA_KEYX;
        result->keyLen = keyLen;
        result->blockLen = keyLen;
        std::reverse_copy(data + kRsaHeaderLen, data + dataLen, result->key);
        return 0;
    }
    if (IsSm2Alg(header.algId)) {
        if (dataLen != kSm2PublicBlobLen) return static_cast<DWORD>(NTE_BAD_DATA);
        const BYTE* x = data + kSimpleHeaderLen;
        std::uint8_t point[2 * kSm2CoordinateLen];
        std::reverse_copy(x, x + kSm2CoordinateLen, point);
        std::reverse_copy(x + kSm2FieldLen, x + kSm2FieldLen + kSm2CoordinateLen, point + kSm2CoordinateLen);
        if (!tokencrypto::Sm2PointOnCurve(point, point + kSm2CoordinateLen)) return static_cast<DWORD>(NTE_BAD_DATA);
        result->algId = kAlgSm2Keyx;
        result->keyLen = kSm2CoordinateLen;
        result->blockLen = kSm2CoordinateLen;
        std::memcpy(result->key, point, sizeof point);
        return 0;
    }
    return static_cast<DWORD>(NTE_BAD_FLAGS);
}

// The context's own key pair that a private-key import fills.
KeyObject* ImportTarget(ProviderContext* context, std::uint32_t algId)
{
    bool signature = IsSignatureAlg(algId);
    KeyObject* own = signature ? &context->signatureKey : &context->exchangeKey;
    own->algId = algId;
    own->permissions = signature ? kPermissionsSignatureKey : kPermissionsExchangeKey;
    own->inObject = 0;
    return own;
}

// Reads a DER length at *position and moves past it; false when it runs
// past the end.
bool ReadDerLength(const BYTE* der, std::uint32_t end, std::uint32_t* position, std::uint32_t* length)
{
    if (*position >= end) return false;
    std::uint8_t first = der[(*position)++];
    if (first < 0x80) {
        *length = first;
    } else {
        std::uint32_t count = first & 0x7F;
        if (count == 0 || count > 3 || end - *position < count) return false;
        *length = 0;
        while (count--) *length = (*length << 8) | der[(*position)++];
    }
    return *length <= end - *position;
}

// An element of the SEQUENCE: its tag, then its content.
bool NextElement(const BYTE* der, std::uint32_t end, std::uint32_t* position, const BYTE** content,
                 std::uint32_t* length)
{
    if (*position >= end) return false;
    ++*position;
    if (!ReadDerLength(der, end, position, length)) return false;
    *content = der + *position;
    *position += *length;
    return true;
}

// The elements of an encrypted RSA record: version, two skipped ones, the
// wrapped 3DES key and the private key encrypted under it.
struct RsaRecord {
    const BYTE* content[5];
    std::uint32_t length[5];
};

// A private-key blob, read and checked before the PIN is asked for.
struct PrivateKeyBlob {
    std::uint32_t algId; // of the key pair it fills
    std::uint32_t bits;
    bool encrypted;
    const BYTE* body; // RSA plain: the key body; SM2: the key bytes
    std::uint32_t bodyLen;
    RsaRecord record; // RSA encrypted
};

DWORD ReadRsaRecord(const BYTE* der, RsaRecord* record)
{
    if (!der || der[0] != kDerSequence) {
        LogLine("---->DerDecodeData......\n");
        return static_cast<DWORD>(NTE_BAD_DATA);
    }
    std::uint32_t position = 1, sequenceLen = 0;
    if (!ReadDerLength(der, kRecordRoom, &position, &sequenceLen)) return static_cast<DWORD>(NTE_BAD_DATA);
    std::uint32_t end = position + sequenceLen;
    for (int i = 0; i < 5; ++i)
        if (!NextElement(der, end, &position, &record->content[i], &record->length[i]))
            return static_cast<DWORD>(NTE_BAD_DATA);
    if (record->length[0] > 4 || record->length[1] >= 0x80 || record->length[2] >= 0x80)
        return static_cast<DWORD>(NTE_BAD_DATA);
    return 0;
}

// The private key of the encrypted record: a 3DES key unwrapped by the
// exchange key, then the DER private key decrypted under it on the token.
DWORD DecryptRsaRecord(ProviderContext* context, const RsaRecord& record, std::vector<std::uint8_t>* privateDer)
{
    std::vector<std::uint8_t> symmetric(kWrapRoom);
    DWORD error = DecryptOnToken(context, &context->exchangeKey, record.content[3], record.length[3], &symmetric,
                                 nullptr, nullptr);
    if (error) return error;
    KeyObject* temporary = NewSessionKeyObject();
    if (!temporary) return static_cast<DWORD>(NTE_NO_MEMORY);
    temporary->algId = CALG_3DES;
    temporary->mode = kKeyModeEcb;
    temporary->padding = kKeyPaddingPkcs5;
    temporary->keyLen = kTripleDesKeyLen;
    temporary->blockLen = 8;
    std::memcpy(temporary->key, symmetric.data(), std::min<std::size_t>(symmetric.size(), kTripleDesKeyLen));
    SecureZeroMemory(symmetric.data(), symmetric.size());
    if (symmetric.size() < kTripleDesKeyLen) {
        ClearAndFree(temporary);
        return static_cast<DWORD>(NTE_BAD_DATA);
    }
    error = Token_SymKeyInit(&context->session, temporary, false);
    if (error) {
        ClearAndFree(temporary);
        return error;
    }
    privateDer->assign(kBodyRoom + kWrapRoom, 0);
    std::uint32_t updateLen = kBodyRoom;
    std::uint32_t status = temporary->funcs->SymKeyDecUpdate(temporary->operation, record.content[4], record.length[4],
                                                             privateDer->data(), &updateLen);
    if (status != devicelib::UK_OK) {
        LogFailure("---->SymKeyDecUpdate Error. Code : ", status, nullptr);
        temporary->funcs->SymKeyDecFinal(temporary->operation, privateDer->data(), &updateLen);
        ClearAndFree(temporary);
        return static_cast<DWORD>(NTE_FAIL);
    }
    std::uint32_t finalLen = static_cast<std::uint32_t>(privateDer->size()) - updateLen;
    status = temporary->funcs->SymKeyDecFinal(temporary->operation, privateDer->data() + updateLen, &finalLen);
    ClearAndFree(temporary);
    if (status != devicelib::UK_OK) {
        LogFailure("---->SymKeyDecFinal Error. Code : ", status, nullptr);
        return static_cast<DWORD>(NTE_FAIL);
    }
    privateDer->resize(updateLen + finalLen);
    return 0;
}

DWORD ReadRsaPrivateBlob(const ProviderContext* context, const BYTE* data, DWORD dataLen, const BlobHeader& header,
                         PrivateKeyBlob* blob)
{
    if (HoldsKeyOf(context, IsSm2Alg)) {
        LogLine("---->This is a  SM2 Container......\n");
        return kOtherAlgorithmContainer;
    }
    blob->algId = header.algId == CALG_RSA_SIGN ? CALG_RSA_SIGN : CALG_RSA_KEYX;
    if (blob->encrypted) {
        OutputDebugStringA("----Enc PRIVATEKEYBLOB...\n");
        if (dataLen < 24 + sizeof(const BYTE*)) return static_cast<DWORD>(NTE_BAD_DATA);
        blob->bits = ReadWord(data, 12);
        if (blob->bits < kRsaMinBits || blob->bits > kRsaMaxBits) return static_cast<DWORD>(NTE_BAD_DATA);
        return ReadRsaRecord(ReadPointer(data, 24), &blob->record);
    }
    OutputDebugStringA("----no Enc PRIVATEKEYBLOB...\n");
    if (dataLen < kRsaHeaderLen || ReadWord(data, kHeaderLen) != kRsaMagicPrivate)
        return static_cast<DWORD>(NTE_BAD_DATA);
    blob->bits = ReadWord(data, kHeaderLen + 4);
    std::uint32_t n = blob->bits / 8;
    // The whole body must be there, and the token's public half is made
    // with the exponent 65537.
    if (blob->bits < kRsaMinBits || blob->bits > kRsaMaxBits || dataLen < kRsaHeaderLen + 2 * n + 5 * (n / 2) ||
        ReadWord(data, kHeaderLen + 8) != kRsaPublicExponent)
        return static_cast<DWORD>(NTE_BAD_DATA);
    blob->body = data + kRsaHeaderLen;
    blob->bodyLen = 2 * n + 5 * (n / 2);
    return 0;
}

DWORD ReadSm2PrivateBlob(const ProviderContext* context, const BYTE* data, DWORD dataLen, PrivateKeyBlob* blob)
{
    if (dataLen < 16 + sizeof(const BYTE*)) return static_cast<DWORD>(NTE_BAD_DATA);
    blob->algId = ReadWord(data, 8);
    if (!IsSm2Alg(blob->algId)) return static_cast<DWORD>(NTE_BAD_DATA);
    if (HoldsKeyOf(context, IsRsaAlg)) {
        LogLine("---->This is a  RSA Container......\n");
        return kOtherAlgorithmContainer;
    }
    blob->bits = ReadWord(data, 12);
    blob->body = ReadPointer(data, 16);
    blob->bodyLen = blob->bits / 8;
    if (!blob->body || blob->bits == 0 || blob->bodyLen > kSm2UnwrapRoom) return static_cast<DWORD>(NTE_BAD_DATA);
    return 0;
}

DWORD ImportRsaPrivateKey(ProviderContext* context, const PrivateKeyBlob& blob)
{
    std::vector<std::uint8_t> privateDer;
    const BYTE* body = blob.body;
    std::uint32_t bodyLen = blob.bodyLen;
    if (blob.encrypted) {
        DWORD error = DecryptRsaRecord(context, blob.record, &privateDer);
        if (error) return error;
        body = privateDer.data();
        bodyLen = static_cast<std::uint32_t>(privateDer.size());
    }
    KeyObject* own = ImportTarget(context, blob.algId);
    DWORD error = Token_ImportRsaKeyPair(&context->session, context->containerNumber, own, blob.bits, body, bodyLen);
    if (!privateDer.empty()) SecureZeroMemory(privateDer.data(), privateDer.size());
    if (error) LogLine("---->dev_ImportRSAKey......\n");
    return error;
}

DWORD ImportSm2PrivateKey(ProviderContext* context, const PrivateKeyBlob& blob)
{
    std::vector<std::uint8_t> scalar(blob.body, blob.body + blob.bodyLen);
    std::uint32_t bits = blob.bits;
    if (blob.encrypted) {
        std::vector<std::uint8_t> input(scalar.size() + 1, kSm2PointFormat);
        std::copy(scalar.begin(), scalar.end(), input.begin() + 1);
        std::vector<std::uint8_t> plain(kSm2UnwrapRoom);
        DWORD error = DecryptOnToken(context, &context->exchangeKey, input.data(),
                                     static_cast<std::uint32_t>(input.size()), &plain, nullptr, nullptr);
        if (error) return error;
        std::size_t third = plain.size() / 3;
        scalar.assign(plain.end() - third, plain.end());
        SecureZeroMemory(plain.data(), plain.size());
        bits = static_cast<std::uint32_t>(third * 8);
    }
    KeyObject* own = ImportTarget(context, blob.algId);
    DWORD error = Token_ImportSm2PrivateKey(&context->session, context->containerNumber, own, bits, scalar.data());
    SecureZeroMemory(scalar.data(), scalar.size());
    if (error) LogLine("---->dev_ImportSM2PriKey......\n");
    return error;
}

DWORD ImportPrivateKeyBlob(ProviderContext* context, const BYTE* data, DWORD dataLen, DWORD flags, KeyObject* result)
{
    BlobHeader header;
    std::memcpy(&header, data, sizeof header);
    if (header.version != kBlobVersion) return static_cast<DWORD>(NTE_BAD_VER);
    if (!HasContainer(context)) return static_cast<DWORD>(NTE_BAD_KEYSET);
    PrivateKeyBlob blob = {};
    blob.encrypted = header.reserved == 1;
    bool rsa = IsRsaAlg(header.algId);
    DWORD error = rsa ? ReadRsaPrivateBlob(context, data, dataLen, header, &blob)
                      : ReadSm2PrivateBlob(context, data, dataLen, &blob);
    if (error) return error;
    error = VerifyUserPin(context, g_PinVerified != 0);
    if (error) {
        LogLine("----->uk_VerifyUserPin......\n");
        return error;
    }
    g_PinVerified = 0;
    error = rsa ? ImportRsaPrivateKey(context, blob) : ImportSm2PrivateKey(context, blob);
    if (error) return error;
    KeyObject* own = IsSignatureAlg(blob.algId) ? &context->signatureKey : &context->exchangeKey;
    if (flags & CRYPT_EXPORTABLE) own->permissions |= CRYPT_EXPORT;
    *result = *own;
    return 0;
}

std::uint32_t SimpleBlobSize(const KeyObject* wrapKey, const KeyObject* key)
{
    if (IsRsaAlg(wrapKey->algId)) return kSimpleHeaderLen + wrapKey->keyLen;
    return kSimpleHeaderLen + 1 + 3 * wrapKey->keyLen + key->keyLen;
}

DWORD ExportSimpleBlob(ProviderContext* context, KeyObject* key, HCRYPTKEY hPubKey, BYTE* data, DWORD* dataLen)
{
    KeyObject* wrapKey = LookupKeyObject(hPubKey);
    if (!wrapKey) return static_cast<DWORD>(NTE_BAD_KEY);
    if (!IsRsaAlg(wrapKey->algId) && !IsSm2Alg(wrapKey->algId)) return static_cast<DWORD>(NTE_BAD_PUBLIC_KEY);
    if (!IsWrappableAlg(key->algId) || key->keyLen == 0) return static_cast<DWORD>(NTE_BAD_KEY);
    std::uint32_t size = SimpleBlobSize(wrapKey, key);
    if (!data) {
        *dataLen = size;
        return 0;
    }
    if (*dataLen < size) {
        *dataLen = size;
        return static_cast<DWORD>(NTE_BUFFER_TOO_SMALL);
    }
    DWORD error = Token_AsymKeyInit(&context->session, ASYM_PUBLIC_ENCRYPT, wrapKey);
    if (error) {
        LogLine("---->dev_AsymInit......\n");
        return error;
    }
    std::vector<std::uint8_t> output(kWrapRoom);
    std::uint32_t outputLen = kWrapRoom;
    std::uint32_t status =
        wrapKey->funcs->PubkeyEnc(wrapKey->operation, key->key, key->keyLen, output.data(), &outputLen);
    Token_AsymKeyFinal(wrapKey);
    if (status != devicelib::UK_OK) {
        LogFailure("---->PubkeyEnc Error. Code : ", status, "---->dev_PubKeyEnc......\n");
        return static_cast<DWORD>(NTE_FAIL);
    }
    if (outputLen > kWrapRoom || kSimpleHeaderLen + outputLen > *dataLen) return static_cast<DWORD>(NTE_FAIL);
    WriteHeader(data, SIMPLEBLOB, key->algId);
    WriteWord(data, kHeaderLen, wrapKey->algId);
    std::reverse_copy(output.begin(), output.begin() + outputLen, data + kSimpleHeaderLen);
    *dataLen = kSimpleHeaderLen + outputLen;
    return 0;
}

DWORD ExportPublicKeyBlob(ProviderContext* context, const KeyObject* key, BYTE* data, DWORD* dataLen)
{
    bool rsa = IsRsaAlg(key->algId);
    if (!rsa && !IsSm2Alg(key->algId)) return static_cast<DWORD>(NTE_BAD_TYPE);
    std::uint32_t size = rsa ? key->keyLen + kRsaHeaderLen : kSm2PublicBlobLen;
    if (!data) {
        *dataLen = size;
        return 0;
    }
    if (*dataLen < size) {
        *dataLen = size;
        return static_cast<DWORD>(NTE_BUFFER_TOO_SMALL);
    }
    std::uint8_t material[kKeyBytesRoom] = {};
    if (key->inObject) {
        std::memcpy(material, key->key, rsa ? key->keyLen : 2 * kSm2CoordinateLen);
    } else {
        DWORD error = Token_ExportPublicKey(&context->session, key, material);
        if (error) {
            LogLine("---->dev_exportPubKey......\n");
            return error;
        }
    }
    std::memset(data, 0, size);
    WriteKeyBlobHeader(data, PUBLICKEYBLOB, key, rsa, kRsaMagicPublic);
    if (rsa) {
        std::reverse_copy(material, material + key->keyLen, data + kRsaHeaderLen);
    } else {
        BYTE* x = data + kSimpleHeaderLen;
        std::reverse_copy(material, material + kSm2CoordinateLen, x);
        std::reverse_copy(material + kSm2CoordinateLen, material + 2 * kSm2CoordinateLen, x + kSm2FieldLen);
    }
    *dataLen = size;
    return 0;
}

DWORD ExportPrivateKeyBlob(ProviderContext* context, const KeyObject* key, BYTE* data, DWORD* dataLen)
{
    bool rsa = IsRsaAlg(key->algId);
    if ((!rsa && !IsSm2Alg(key->algId)) || key->inObject) return static_cast<DWORD>(NTE_BAD_KEY);
    // The private key never leaves the token unless it came in exportable.
    if (!(key->permissions & CRYPT_EXPORT)) {
        LogLine("---->NTE_BAD_KEY_STATE......\n");
        return static_cast<DWORD>(NTE_BAD_KEY_STATE);
    }
    std::uint32_t bodyLen = 2 * key->keyLen + 5 * (key->keyLen / 2);
    std::uint32_t size = rsa ? bodyLen + kRsaHeaderLen : kSm2PrivateBlobLen;
    if (!data) {
        *dataLen = size;
        return 0;
    }
    if (*dataLen < size) {
        *dataLen = size;
        return static_cast<DWORD>(NTE_BUFFER_TOO_SMALL);
    }
    std::vector<std::uint8_t> body(std::max<std::uint32_t>(bodyLen, 2 * kSm2CoordinateLen));
    DWORD error = Token_ExportPrivateKey(&context->session, key, body.data());
    if (error) {
        LogLine("---->dev_ExportPriKey......\n");
        return error;
    }
    std::memset(data, 0, size);
    WriteKeyBlobHeader(data, PRIVATEKEYBLOB, key, rsa, kRsaMagicPrivate);
    if (rsa) {
        std::memcpy(data + kRsaHeaderLen, body.data(), bodyLen);
    } else {
        std::memcpy(data + kSimpleHeaderLen, body.data(), kSm2PrivateBodyLen);
    }
    SecureZeroMemory(body.data(), body.size());
    *dataLen = size;
    return 0;
}

} // namespace

DWORD ImportKeyImpl(HCRYPTPROV hProv, const BYTE* data, DWORD dataLen, HCRYPTKEY hPubKey, DWORD flags, HCRYPTKEY* phKey)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    KeyObject* unwrapKey = nullptr;
    if (hPubKey) {
        unwrapKey = LookupKeyObject(hPubKey);
        if (!unwrapKey) return static_cast<DWORD>(NTE_BAD_KEY);
    }
    if (dataLen < kHeaderLen) return static_cast<DWORD>(NTE_BAD_DATA);
    KeyObject* result = NewSessionKeyObject();
    if (!result) return static_cast<DWORD>(NTE_NO_MEMORY);
    DWORD status = 0;
    switch (data[0]) {
    case SIMPLEBLOB:
        status = ImportSimpleBlob(context, data, dataLen, unwrapKey, result);
        break;
    case PUBLICKEYBLOB:
        status = ImportPublicKeyBlob(data, dataLen, result);
        break;
    case PRIVATEKEYBLOB:
        status = ImportPrivateKeyBlob(context, data, dataLen, flags, result);
        break;
    default:
        status = static_cast<DWORD>(NTE_BAD_TYPE);
    }
    if (status != 0) {
        ClearAndFree(result);
        return status;
    }
    g_KeyObjects.Add(result);
    *phKey = reinterpret_cast<HCRYPTKEY>(result);
    return 0;
}

DWORD ExportKeyImpl(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD blobType, BYTE* data, DWORD* dataLen)
{
    ProviderContext* context = LookupProviderContext(hProv);
    if (!context) return static_cast<DWORD>(NTE_BAD_UID);
    KeyObject* key = LookupKeyObject(hKey);
    if (!key) return static_cast<DWORD>(NTE_BAD_KEY);
    switch (blobType) {
    case SIMPLEBLOB:
        return ExportSimpleBlob(context, key, hPubKey, data, dataLen);
    case PUBLICKEYBLOB:
        if (hPubKey) return static_cast<DWORD>(NTE_BAD_PUBLIC_KEY);
        return ExportPublicKeyBlob(context, key, data, dataLen);
    case PRIVATEKEYBLOB:
        return ExportPrivateKeyBlob(context, key, data, dataLen);
    default:
        return static_cast<DWORD>(NTE_BAD_TYPE);
    }
}

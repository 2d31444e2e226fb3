#include "TokenKeys.h"

#include "DebugLog.h"
#include "TokenAccess.h"

#include "tokencrypto/RsaKeyDer.h"
#include "tokencrypto/SecureZero.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

namespace ct = devicelib::container;

constexpr std::uint32_t kWriteContainerFlags = 0x10000;
constexpr unsigned kSm2CoordinateLen = 32;

std::uint32_t VendorAlgorithm(std::uint32_t algId)
{
    return IsRsaAlg(algId) ? devicelib::UK_ALG_RSA : devicelib::UK_ALG_SM2;
}

devicelib::UK_KEY_REF KeyRef(const KeyObject* key, unsigned offset)
{
    return {key->key[offset], key->key[offset + 1]};
}

// Read before the token's keys change, under the caller's hold: a key of
// the other algorithm that another connection put into the container since
// this context was opened would be misread once the record names ours.
DWORD ReadContainerRecord(TokenSession* session, std::uint8_t containerNumber, const KeyObject* key,
                          std::uint8_t* record)
{
    record[ct::kNumber] = containerNumber;
    std::uint32_t status = session->funcs->ReadContainer(session->device, record);
    if (status != devicelib::UK_OK) {
        LogFailure("---->ReadContainer Error . Code is : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    bool recordRsa = record[ct::kAlgorithm] == devicelib::UK_ALG_RSA;
    if ((record[ct::kSignatureSize] || record[ct::kExchangeSize]) && recordRsa != IsRsaAlg(key->algId)) {
        LogLine(recordRsa ? "---->This is a  RSA Container......\n" : "---->This is a  SM2 Container......\n");
        return kOtherAlgorithmContainer;
    }
    return 0;
}

DWORD WriteContainerRecord(TokenSession* session, const KeyObject* key, std::uint8_t* record)
{
    bool rsa = IsRsaAlg(key->algId);
    record[ct::kAlgorithm] = static_cast<std::uint8_t>(VendorAlgorithm(key->algId));
    record[IsSignatureAlg(key->algId) ? ct::kSignatureSize : ct::kExchangeSize] =
        static_cast<std::uint8_t>(key->keyLen / (rsa ? 128 : 32));
    std::uint32_t status = session->funcs->WriteContainer(session->device, record, kWriteContainerFlags);
    if (status != devicelib::UK_OK) {
        LogFailure("---->WriteContainer Error . Code is : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    return 0;
}

// The order of the parts of a CryptoAPI private-key body: the token's
// areas (modulus, public exponent, exponent, p, q, dp, dq, qinv) by index,
// each full (n) or half (n / 2) long.
struct BodyPart {
    unsigned area;
    bool full;
};
const BodyPart kBodyParts[] = {{0, true}, {3, false}, {4, false}, {5, false}, {6, false}, {7, false}, {2, true}};

std::uint32_t BodyLength(std::uint32_t n)
{
    return 2 * n + 5 * (n / 2);
}

// Reverses a little-endian body into the big-endian fields of the key
// record; the public exponent is 65537.
void BodyToKey(const std::uint8_t* body, std::uint32_t n, tokencrypto::RsaPrivateKey* key)
{
    std::uint8_t* fields[] = {key->modulus,          key->prime[0],    key->prime[1], key->primeExponent[0],
                              key->primeExponent[1], key->coefficient, key->exponent};
    for (unsigned i = 0; i < 7; ++i) {
        std::uint32_t length = kBodyParts[i].full ? n : n / 2;
        std::reverse_copy(body, body + length, fields[i]);
        body += length;
    }
    key->publicExponent[n - 3] = 1;
    key->publicExponent[n - 1] = 1;
    key->bits = n * 8;
}

// The token, the verification and the blobs all take the exponent to be
// 65537: a key with another one would silently become another key.
bool HasExponent65537(const tokencrypto::RsaPrivateKey& key)
{
    std::uint32_t n = key.bits / 8;
    if (n < 3 || n > tokencrypto::RSA_MAX_MODULUS_LEN) return false;
    for (std::uint32_t i = 0; i + 3 < n; ++i)
        if (key.publicExponent[i]) return false;
    return key.publicExponent[n - 3] == 1 && key.publicExponent[n - 2] == 0 && key.publicExponent[n - 1] == 1;
}

DWORD ImportRsaHalves(TokenSession* session, const KeyObject* key, const tokencrypto::RsaPrivateKey& source)
{
    devicelib::UK_PRIVATE_KEY privateKey = {source.bits,
                                            source.modulus,
                                            source.publicExponent,
                                            source.exponent,
                                            {source.prime[0], source.prime[1]},
                                            {source.primeExponent[0], source.primeExponent[1]},
                                            source.coefficient};
    devicelib::UK_KEY_REF ref = KeyRef(key, kKeyIdPrivate);
    std::uint32_t status = session->funcs->ImportPrivateKey(session->device, devicelib::UK_ALG_RSA, &ref, &privateKey);
    if (status != devicelib::UK_OK) {
        LogFailure("---->ImportPrivateKey Error. Code : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    std::uint8_t modulus[tokencrypto::RSA_MAX_MODULUS_LEN], exponent[tokencrypto::RSA_MAX_MODULUS_LEN];
    std::memcpy(modulus, source.modulus, sizeof modulus);
    std::memcpy(exponent, source.publicExponent, sizeof exponent);
    devicelib::UK_PUBLIC_KEY publicKey = {source.bits, modulus, exponent};
    ref = KeyRef(key, kKeyIdPublic);
    status = session->funcs->ImportPublicKey(session->device, devicelib::UK_ALG_RSA, &ref, &publicKey);
    if (status != devicelib::UK_OK) {
        LogFailure("---->ImportPublicKey Error. Code : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    return 0;
}

std::uint32_t VendorHashCode(ALG_ID algId)
{
    switch (algId) {
    case CALG_MD5:
        return devicelib::UK_HASH_MD5;
    case CALG_SHA1:
        return devicelib::UK_HASH_SHA1;
    case CALG_SHA_256:
        return devicelib::UK_HASH_SHA256;
    case kAlgSm3:
        return devicelib::UK_HASH_SM3;
    default:
        return 0;
    }
}

} // namespace

DWORD Token_GenerateKeyPair(TokenSession* session, std::uint8_t containerNumber, KeyObject* key)
{
    if (!IsRsaAlg(key->algId) && !IsSm2Alg(key->algId)) return static_cast<DWORD>(NTE_BAD_FLAGS);
    if (!session->funcs) return static_cast<DWORD>(NTE_FAIL);
    // The record is read and written back: another connection's change
    // to it in between would be undone.
    devicelib::TokenHold hold;
    std::uint8_t record[devicelib::UK_CONTAINER_RECORD_LEN] = {};
    if (DWORD error = HoldToken(hold, session->deviceName)) return error;
    if (DWORD error = ReadContainerRecord(session, containerNumber, key, record)) return error;
    devicelib::UK_KEY_REF publicRef = KeyRef(key, kKeyIdPublic), privateRef = KeyRef(key, kKeyIdPrivate);
    std::uint32_t status = session->funcs->GenerateKeyPair(session->device, VendorAlgorithm(key->algId),
                                                           key->keyLen * 8, 0, 0, &publicRef, &privateRef);
    if (status != devicelib::UK_OK) {
        LogFailure("---->GenerateKeyPair Error . Code is : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    return WriteContainerRecord(session, key, record);
}

DWORD Token_ExportPublicKey(TokenSession* session, const KeyObject* key, std::uint8_t* output)
{
    if (!session->funcs) return static_cast<DWORD>(NTE_FAIL);
    devicelib::UK_KEY_REF ref = KeyRef(key, kKeyIdPublic);
    std::uint8_t exponent[kKeyBytesRoom] = {};
    devicelib::UK_PUBLIC_KEY material = {key->keyLen * 8, output,
                                         IsRsaAlg(key->algId) ? exponent : output + kSm2CoordinateLen};
    std::uint32_t status =
        session->funcs->ExportPublicKey(session->device, VendorAlgorithm(key->algId), &ref, &material);
    if (status != devicelib::UK_OK) {
        LogFailure("---->ExportPublicKey Error. Code : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    return 0;
}

DWORD Token_ExportPrivateKey(TokenSession* session, const KeyObject* key, std::uint8_t* output)
{
    if (!session->funcs) return static_cast<DWORD>(NTE_FAIL);
    devicelib::UK_KEY_REF ref = KeyRef(key, kKeyIdPrivate);
    auto* areas = new (std::nothrow) devicelib::UK_PRIVATE_KEY_AREAS();
    if (!areas) return static_cast<DWORD>(NTE_NO_MEMORY);
    std::uint32_t status = session->funcs->ExportPrivateKey(session->device, VendorAlgorithm(key->algId), &ref, areas);
    DWORD result = 0;
    if (status != devicelib::UK_OK) {
        LogFailure("---->ExportPrivateKey Error. Code : ", status);
        result = static_cast<DWORD>(NTE_FAIL);
    } else if (IsRsaAlg(key->algId)) {
        std::uint8_t* out = output;
        for (const BodyPart& part : kBodyParts) {
            std::uint32_t length = part.full ? key->keyLen : key->keyLen / 2;
            std::reverse_copy(areas->area[part.area], areas->area[part.area] + length, out);
            out += length;
        }
    } else {
        std::memset(output, 0, 2 * kSm2CoordinateLen);
        std::reverse_copy(areas->area[0], areas->area[0] + kSm2CoordinateLen, output);
    }
    tokencrypto::SecureZero(areas, sizeof *areas);
    delete areas;
    return result;
}

DWORD Token_ImportRsaKeyPair(TokenSession* session, std::uint8_t containerNumber, KeyObject* key, std::uint32_t bits,
                             const std::uint8_t* data, std::uint32_t length)
{
    if (!session->funcs) return static_cast<DWORD>(NTE_FAIL);
    auto* source = new (std::nothrow) tokencrypto::RsaPrivateKey();
    if (!source) return static_cast<DWORD>(NTE_NO_MEMORY);
    std::uint32_t n = bits / 8;
    DWORD result = 0;
    if ((n == 128 || n == 256) && length == BodyLength(n)) {
        BodyToKey(data, n, source);
    } else {
        std::uint32_t status = length && data[0] == 0x30 ? tokencrypto::DerDecodeRSAKey(data, length, source)
                                                         : static_cast<DWORD>(NTE_BAD_DATA);
        if (status != tokencrypto::DER_OK) {
            LogFailure("---->DerDecodeRSAKey Error. Code : ", status);
            result = static_cast<DWORD>(NTE_BAD_DATA);
        } else if (!HasExponent65537(*source)) {
            result = static_cast<DWORD>(NTE_BAD_DATA);
        }
    }
    devicelib::TokenHold hold;
    std::uint8_t record[devicelib::UK_CONTAINER_RECORD_LEN] = {};
    if (result == 0) result = HoldToken(hold, session->deviceName);
    if (result == 0) result = ReadContainerRecord(session, containerNumber, key, record);
    if (result == 0) result = ImportRsaHalves(session, key, *source);
    if (result == 0) {
        key->keyLen = source->bits / 8;
        key->blockLen = source->bits / 8;
        result = WriteContainerRecord(session, key, record);
    }
    tokencrypto::SecureZero(source, sizeof *source);
    delete source;
    return result;
}

DWORD Token_ImportSm2PrivateKey(TokenSession* session, std::uint8_t containerNumber, KeyObject* key, std::uint32_t bits,
                                const std::uint8_t* scalar)
{
    if (!session->funcs) return static_cast<DWORD>(NTE_FAIL);
    devicelib::TokenHold hold;
    std::uint8_t record[devicelib::UK_CONTAINER_RECORD_LEN] = {};
    if (DWORD error = HoldToken(hold, session->deviceName)) return error;
    if (DWORD error = ReadContainerRecord(session, containerNumber, key, record)) return error;
    devicelib::UK_PRIVATE_KEY privateKey = {};
    privateKey.bits = bits;
    privateKey.modulus = scalar;
    devicelib::UK_KEY_REF ref = KeyRef(key, kKeyIdPrivate);
    std::uint32_t status = session->funcs->ImportPrivateKey(session->device, devicelib::UK_ALG_SM2, &ref, &privateKey);
    if (status != devicelib::UK_OK) {
        LogFailure("---->ImportPrivateKey Error. Code : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    key->keyLen = bits / 8;
    key->blockLen = bits / 8;
    return WriteContainerRecord(session, key, record);
}

DWORD Token_HashInit(TokenSession* session, ALG_ID algId, HashObject* hash)
{
    std::uint32_t code = VendorHashCode(algId);
    if (code == 0) return 0;
    std::uint32_t status = session->funcs ? session->funcs->HashInit(session->device, code, &hash->tokenHash)
                                          : devicelib::UK_ERR_NOT_INITIALIZED;
    if (status != devicelib::UK_OK) {
        LogFailure("---->HashInit Error. Code : ", status);
        return static_cast<DWORD>(NTE_BAD_DATA);
    }
    hash->state = kHashStateOpen;
    hash->funcs = session->funcs;
    return 0;
}

DWORD Token_HashUpdate(HashObject* hash, const std::uint8_t* data, std::uint32_t length)
{
    std::uint32_t status =
        hash->funcs ? hash->funcs->HashUpdate(hash->tokenHash, data, length) : devicelib::UK_ERR_NOT_INITIALIZED;
    if (status != devicelib::UK_OK) {
        LogFailure("---->HashUpdate Error. Code : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    if (hash->exchangeSource == kExchangeTakesStream) tokencrypto::SM3_Update(&hash->exchangeStream, data, length);
    return 0;
}

DWORD FinishHash(HashObject* hash, std::uint8_t* digest, std::uint32_t* length)
{
    std::uint32_t status =
        hash->funcs ? hash->funcs->HashFinal(hash->tokenHash, digest, length) : devicelib::UK_ERR_NOT_INITIALIZED;
    if (status != devicelib::UK_OK) {
        LogFailure("---->HashFinal Error. Code : ", status);
        return static_cast<DWORD>(NTE_FAIL);
    }
    hash->tokenHash = 0;
    hash->state = kHashStateFinished;
    if (hash->exchangeSource == kExchangeTakesStream) {
        tokencrypto::SM3_Final(&hash->exchangeStream, hash->exchangeValue);
        tokencrypto::SecureZero(&hash->exchangeStream, sizeof hash->exchangeStream);
    }
    return 0;
}

#include "TokenKeys.h"

#include "DebugLog.h"

#include <wincrypt.h>

#include <cstring>

namespace {

namespace ct = vendor::container;

constexpr DWORD kBadData = 0x80090005;
constexpr DWORD kBadFlags = 0x80090009;
constexpr DWORD kFail = 0x80090020;
constexpr std::uint32_t kWriteContainerFlags = 0x10000;
constexpr unsigned kSm2PointLen = 65;  // 04 || x || y
constexpr unsigned kSm2CoordinateLen = 32;

void LogFailure(const char* text, std::uint32_t status)
{
    LogLine(text);
    LogCode(status);
}

std::uint32_t VendorAlgorithm(std::uint32_t algId)
{
    return IsRsaAlg(algId) ? vendor::UK_ALG_RSA : vendor::UK_ALG_SM2;
}

vendor::UK_KEY_REF KeyRef(const KeyObject* key, unsigned offset)
{
    return {key->key[offset], key->key[offset + 1]};
}

DWORD UpdateContainerRecord(TokenSession* session, std::uint8_t containerNumber, const KeyObject* key)
{
    std::uint8_t record[vendor::UK_CONTAINER_RECORD_LEN] = {};
    record[ct::kNumber] = containerNumber;
    std::uint32_t status = session->funcs->ReadContainer(session->device, record);
    if (status != vendor::UK_OK) {
        LogFailure("---->ReadContainer Error . Code is : ", status);
        return kFail;
    }
    bool rsa = IsRsaAlg(key->algId);
    record[ct::kAlgorithm] = static_cast<std::uint8_t>(VendorAlgorithm(key->algId));
    record[IsSignatureAlg(key->algId) ? ct::kSignatureSize : ct::kExchangeSize] =
        static_cast<std::uint8_t>(key->keyLen / (rsa ? 128 : 32));
    status = session->funcs->WriteContainer(session->device, record, kWriteContainerFlags);
    if (status != vendor::UK_OK) {
        LogFailure("---->WriteContainer Error . Code is : ", status);
        return kFail;
    }
    return 0;
}

std::uint32_t VendorHashCode(ALG_ID algId)
{
    switch (algId) {
    case CALG_MD5: return vendor::UK_HASH_MD5;
    case CALG_SHA1: return vendor::UK_HASH_SHA1;
    case CALG_SHA_256: return vendor::UK_HASH_SHA256;
    case kAlgSm3: return vendor::UK_HASH_SM3;
    default: return 0;
    }
}

}  // namespace

DWORD Token_GenerateKeyPair(TokenSession* session, std::uint8_t containerNumber, KeyObject* key)
{
    if (!IsRsaAlg(key->algId) && !IsSm2Alg(key->algId)) return kBadFlags;
    if (!session->funcs) return kFail;
    vendor::UK_KEY_REF publicRef = KeyRef(key, kKeyIdPublic), privateRef = KeyRef(key, kKeyIdPrivate);
    std::uint32_t status = session->funcs->GenerateKeyPair(session->device, VendorAlgorithm(key->algId),
                                                           key->keyLen * 8, 0, 0, &publicRef, &privateRef);
    if (status != vendor::UK_OK) {
        LogFailure("---->GenerateKeyPair Error . Code is : ", status);
        return kFail;
    }
    return UpdateContainerRecord(session, containerNumber, key);
}

DWORD Token_ExportPublicKey(TokenSession* session, const KeyObject* key, std::uint8_t* output)
{
    if (!session->funcs) return kFail;
    vendor::UK_KEY_REF ref = KeyRef(key, kKeyIdPublic);
    std::uint8_t exponent[kKeyBytesRoom] = {};
    vendor::UK_PUBLIC_KEY material = {key->keyLen * 8, output,
                                      IsRsaAlg(key->algId) ? exponent : output + kSm2CoordinateLen};
    std::uint32_t status =
        session->funcs->ExportPublicKey(session->device, VendorAlgorithm(key->algId), &ref, &material);
    if (status != vendor::UK_OK) {
        LogFailure("---->ExportPublicKey Error. Code : ", status);
        return kFail;
    }
    return 0;
}

DWORD Token_ImportSm2PublicKeyFromCert(TokenSession* session, KeyObject* key, const std::uint8_t* certificate,
                                       std::uint32_t length)
{
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, certificate, length);
    if (!cert) return kBadData;
    const CRYPT_BIT_BLOB& point = cert->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    if (point.cbData != kSm2PointLen || point.pbData[0] != 0x04) {
        CertFreeCertificateContext(cert);
        return kBadData;
    }
    if (!session->funcs) {
        CertFreeCertificateContext(cert);
        return kFail;
    }
    std::uint32_t keyLength = point.cbData - 1;
    LogLine("---->ImportPublicKey : ");
    if (LogFilePath[0]) {
        char work[kLogHexWorkSize] = {};
        LogHex(point.pbData, point.cbData, work);
    }
    vendor::UK_KEY_REF ref = KeyRef(key, kKeyIdPublic);
    vendor::UK_PUBLIC_KEY material = {keyLength / 2 * 8, point.pbData + 1, point.pbData + 1 + kSm2CoordinateLen};
    std::uint32_t status = session->funcs->ImportPublicKey(session->device, vendor::UK_ALG_SM2, &ref, &material);
    CertFreeCertificateContext(cert);
    if (status != vendor::UK_OK) {
        LogFailure("---->ImportPublicKey Error. Code : ", status);
        return kFail;
    }
    key->blockLen = keyLength / 2;
    key->keyLen = keyLength / 2;
    return 0;
}

DWORD Token_HashInit(TokenSession* session, ALG_ID algId, HashObject* hash)
{
    std::uint32_t code = VendorHashCode(algId);
    if (code == 0) return 0;
    std::uint32_t status = session->funcs ? session->funcs->HashInit(session->device, code, &hash->tokenHash)
                                          : vendor::UK_ERR_NOT_INITIALIZED;
    if (status != vendor::UK_OK) {
        LogFailure("---->HashInit Error. Code : ", status);
        return kBadData;
    }
    hash->state = kHashStateOpen;
    hash->funcs = session->funcs;
    return 0;
}

DWORD Token_HashUpdate(HashObject* hash, const std::uint8_t* data, std::uint32_t length)
{
    std::uint32_t status = hash->funcs ? hash->funcs->HashUpdate(hash->tokenHash, data, length)
                                       : vendor::UK_ERR_NOT_INITIALIZED;
    if (status != vendor::UK_OK) {
        LogFailure("---->HashUpdate Error. Code : ", status);
        return kFail;
    }
    return 0;
}

DWORD FinishHash(HashObject* hash, std::uint8_t* digest, std::uint32_t* length)
{
    std::uint32_t status = hash->funcs ? hash->funcs->HashFinal(hash->tokenHash, digest, length)
                                       : vendor::UK_ERR_NOT_INITIALIZED;
    if (status != vendor::UK_OK) {
        LogFailure("---->HashFinal Error. Code : ", status);
        return kFail;
    }
    hash->tokenHash = 0;
    hash->state = kHashStateFinished;
    return 0;
}

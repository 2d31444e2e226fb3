// Device-layer key pairs on the token: generation, public-key export,
// signatures, and the private-key operations that unwrap keys.
#include "KeyLayer.h"
#include "Logger.h"
#include "DeviceLibrary.h"

#include <cstring>

namespace {

constexpr std::uint32_t kSignRoom = 2048;
constexpr std::uint32_t kEccSignRoom = 512;
constexpr std::uint32_t kUnwrapRoom = 2048;
constexpr std::uint32_t kEccCoordLen = 32;
constexpr ULONG kEccBits = 256;
constexpr ULONG kMaxRsaUnits = 2; // size bytes of 1024-bit units
constexpr std::uint32_t kUpdateRecord = 0x10000;
constexpr ULONG kPkcs1Overhead = 11; // the least that PKCS#1 padding adds
constexpr BYTE kPublicExponent[] = {0x00, 0x01, 0x00, 0x01};

struct KeyChoice {
    const devicelib::UK_KEY_REF* id; // the private key's reference in the record
    std::uint8_t number;             // the public key's number
    std::uint8_t size;
};

bool IsSm2(const ContCtx& record)
{
    return record.AlgType == devicelib::UK_ALG_SM2;
}

// The signature key, else the exchange key.
bool SigningKey(const ContCtx& record, KeyChoice& key)
{
    if (record.SignKeyLen) {
        key = {&record.SignPriKey, record.SignPubKey.number, record.SignKeyLen};
        return true;
    }
    if (record.ExchKeyLen) {
        key = {&record.ExchPriKey, record.ExchPubKey.number, record.ExchKeyLen};
        return true;
    }
    LogMessage(LOG_ERROR, "sign key not exist");
    return false;
}

// Signs or decrypts on the token with the key the record names; out holds
// the result.
ULONG PrivateKeyOperation(DevCtx* pDevCtx, std::uint8_t algorithm, std::uint8_t usage, std::uint8_t padding,
                          const devicelib::UK_KEY_REF* id, std::uint32_t keyLen, const BYTE* data, ULONG dataLen,
                          std::uint32_t room, std::vector<BYTE>& out)
{
    devicelib::UK_ASYM_KEY_SPEC spec = {algorithm, usage, padding, id, keyLen};
    devicelib::UK_HANDLE operation = 0;
    ULONG rc = g_FuncList->AsymKeyInit(pDevCtx->pCtx, &spec, &operation);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "AsymKeyInit  ERR[%#lx]", rc);
        return rc;
    }
    out.assign(room, 0);
    std::uint32_t len = room;
    if (usage == devicelib::UK_USE_PRIVATE_DECRYPT) {
        rc = g_FuncList->PrikeyDec(operation, data, dataLen, out.data(), &len);
    } else {
        LogMessage(LOG_DEBUG, "PrikeySign start...");
        rc = g_FuncList->PrikeySign(operation, devicelib::UK_SIGN_BLOCK, 0, data, dataLen, out.data(), &len);
    }
    g_FuncList->AsymKeyFinal(operation);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR,
                   usage == devicelib::UK_USE_PRIVATE_DECRYPT ? "PrikeyDec  ERR[%#lx]" : "PrikeySign  ERR[%#lx]", rc);
        return rc;
    }
    if (len > room) {
        LogMessage(LOG_ERROR, "result len err[%u]", static_cast<unsigned>(len));
        return SAR_BUFFER_TOO_SMALL;
    }
    out.resize(len);
    return SAR_OK;
}

ULONG RefreshRecord(ConCtx* pConCtx, std::uint8_t algorithm, std::uint8_t signSize)
{
    devicelib::UK_HANDLE device = pConCtx->pDevCtx->pCtx;
    ContCtx& record = *pConCtx->pContCtx;
    // Another process's key in the same container must not be written off
    // the record between the read and the write.
    TokenHold hold;
    if (ULONG rc = HoldToken(hold, pConCtx->pDevCtx)) return rc;
    LogMessage(LOG_DEBUG, "read container info...");
    ULONG rc = g_FuncList->ReadContainer(device, reinterpret_cast<std::uint8_t*>(&record));
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "Read Container Info  ERR[%#lx]", rc);
        return rc;
    }
    LogMessage(LOG_DEBUG, "overwrite container state info...");
    LogMessage(LOG_DEBUG, "ulBitsLen[%d]", signSize);
    record.SignKeyLen = signSize;
    record.AlgType = algorithm;
    rc = g_FuncList->WriteContainer(device, reinterpret_cast<const std::uint8_t*>(&record), kUpdateRecord);
    if (rc != devicelib::UK_OK) LogMessage(LOG_ERROR, "Update Container StateInfo  ERR[%#lx]", rc);
    return rc;
}

ULONG ExportRsa(DevCtx* pDevCtx, std::uint8_t number, ULONG bits, RSAPUBLICKEYBLOB* pBlob)
{
    devicelib::UK_KEY_REF ref = {devicelib::UK_REF_RSA_PUBLIC, number};
    std::vector<BYTE> modulus(devicelib::UK_MAX_CERT_LEN), exponent(devicelib::UK_MAX_CERT_LEN);
    devicelib::UK_PUBLIC_KEY key = {static_cast<std::uint32_t>(bits), modulus.data(), exponent.data()};
    ULONG rc = g_FuncList->ExportPublicKey(pDevCtx->pCtx, devicelib::UK_ALG_RSA, &ref, &key);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "ExportPublicKey  ERR[%#lx]", rc);
        return rc;
    }
    const ULONG len = bits / 8;
    std::memset(pBlob, 0, sizeof *pBlob);
    pBlob->AlgID = SGD_RSA;
    pBlob->BitLen = key.bits;
    std::memcpy(pBlob->Modulus + sizeof pBlob->Modulus - len, modulus.data(), len);
    std::memcpy(pBlob->PublicExponent, kPublicExponent, sizeof kPublicExponent);
    return SAR_OK;
}

ULONG ExportSm2(DevCtx* pDevCtx, std::uint8_t number, ECCPUBLICKEYBLOB* pBlob)
{
    devicelib::UK_KEY_REF ref = {devicelib::UK_REF_SM2_PUBLIC, number};
    BYTE x[devicelib::UK_MAX_CERT_LEN] = {}, y[devicelib::UK_MAX_CERT_LEN] = {};
    devicelib::UK_PUBLIC_KEY key = {kEccBits, x, y};
    ULONG rc = g_FuncList->ExportPublicKey(pDevCtx->pCtx, devicelib::UK_ALG_SM2, &ref, &key);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "ExportPublicKey  ERR[%#lx]", rc);
        return rc;
    }
    std::memset(pBlob, 0, sizeof *pBlob);
    pBlob->BitLen = key.bits;
    std::memcpy(pBlob->XCoordinate + kEccCoordLen, x, kEccCoordLen);
    std::memcpy(pBlob->YCoordinate + kEccCoordLen, y, kEccCoordLen);
    return SAR_OK;
}

ULONG Generate(ConCtx* pConCtx, std::uint32_t algorithm, ULONG bits, std::uint8_t publicKind, std::uint8_t privateKind)
{
    ContCtx& record = *pConCtx->pContCtx;
    devicelib::UK_KEY_REF pub = {publicKind, record.SignPubKey.number};
    devicelib::UK_KEY_REF pri = {privateKind, record.SignPriKey.number};
    LogMessage(LOG_DEBUG, "GenerateKeyPair start...");
    ULONG rc = g_FuncList->GenerateKeyPair(pConCtx->pDevCtx->pCtx, algorithm, bits, 0, 0, &pub, &pri);
    if (rc != devicelib::UK_OK) LogMessage(LOG_ERROR, "GenerateKeyPair ERR[%#lx]", rc);
    return rc;
}

} // namespace

ULONG DF_GenRSAKey(ConCtx* pConCtx, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob)
{
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (!pBlob) return DF_NULL("pBlob", DF_ERR_NULL_POINTER);
    // The public-key record holds at most 2048 bits.
    if (ulBitsLen != 1024 && ulBitsLen != 2048) {
        LogMessage(LOG_ERROR, "ulBitsLen err[%lu]", ulBitsLen);
        return SAR_RSAMODULUSLENERR;
    }
    if (ULONG rc = Generate(pConCtx, devicelib::UK_ALG_RSA, ulBitsLen, devicelib::UK_REF_RSA_PUBLIC,
                            devicelib::UK_REF_RSA_PRIVATE))
        return rc;
    if (ULONG rc = RefreshRecord(pConCtx, devicelib::UK_ALG_RSA, static_cast<std::uint8_t>(ulBitsLen / 1024)))
        return rc;
    LogMessage(LOG_DEBUG, "export RSA PubKey...");
    if (ULONG rc = ExportRsa(pConCtx->pDevCtx, pConCtx->pContCtx->SignPubKey.number, ulBitsLen, pBlob)) return rc;
    pBlob->BitLen = ulBitsLen;
    LogMessage(LOG_DEBUG, "RSA PubKey: N");
    LogHexData(pBlob->Modulus, sizeof pBlob->Modulus);
    LogMessage(LOG_DEBUG, "RSA PubKey: E");
    LogHexData(pBlob->PublicExponent, sizeof pBlob->PublicExponent);
    return SAR_OK;
}

ULONG DF_GenKeyPair_ECC(ConCtx* pConCtx, ECCPUBLICKEYBLOB* pBlob)
{
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (!pBlob) return DF_NULL("pBlob", DF_ERR_NULL_POINTER);
    if (ULONG rc = Generate(pConCtx, devicelib::UK_ALG_SM2, kEccBits, devicelib::UK_REF_SM2_PUBLIC,
                            devicelib::UK_REF_SM2_PRIVATE))
        return rc;
    if (ULONG rc = RefreshRecord(pConCtx, devicelib::UK_ALG_SM2, 1)) return rc;
    LogMessage(LOG_DEBUG, "export SM2 PubKey...");
    if (ULONG rc = ExportSm2(pConCtx->pDevCtx, pConCtx->pContCtx->SignPubKey.number, pBlob)) return rc;
    LogMessage(LOG_DEBUG, "SM2 PubKey:");
    LogHexData(pBlob, sizeof *pBlob);
    return SAR_OK;
}

// Without a signature key the signature request is answered with the
// exchange key.
ULONG DF_ExportPubKey(ConCtx* pConCtx, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen)
{
    LogMessage(LOG_DEBUG, "%s start...", __func__);
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (!pulBlobLen) return DF_NULL("pulBlobLen", DF_ERR_NULL_POINTER);
    const ContCtx& record = *pConCtx->pContCtx;
    std::uint8_t number = 0, size = 0;
    if (bSignFlag) {
        if (record.SignKeyLen) {
            number = record.SignPubKey.number;
            size = record.SignKeyLen;
        } else if (record.ExchKeyLen) {
            LogMessage(LOG_DEBUG, "Sign pub key  == Ex pub key");
            number = record.ExchPubKey.number;
            size = record.ExchKeyLen;
        } else {
            LogMessage(LOG_ERROR, "Sign pub key not exist");
            return SAR_KEYNOTFOUNTERR;
        }
    } else if (record.ExchKeyLen) {
        number = record.ExchPubKey.number;
        size = record.ExchKeyLen;
    } else {
        LogMessage(LOG_ERROR, "Ex pub key not exist");
        return SAR_KEYNOTFOUNTERR;
    }
    const ULONG needed = IsSm2(record) ? sizeof(ECCPUBLICKEYBLOB) : sizeof(RSAPUBLICKEYBLOB);
    if (!pbBlob) {
        *pulBlobLen = needed;
        return SAR_OK;
    }
    if (*pulBlobLen < needed) {
        LogMessage(LOG_ERROR, "Data Buffer too short...");
        return SAR_INDATALENERR;
    }
    ULONG rc;
    if (IsSm2(record)) {
        rc = ExportSm2(pConCtx->pDevCtx, number, reinterpret_cast<ECCPUBLICKEYBLOB*>(pbBlob));
    } else if (size > kMaxRsaUnits) {
        LogMessage(LOG_ERROR, "key len err[%d]", size);
        return SAR_RSAMODULUSLENERR;
    } else {
        RSAPUBLICKEYBLOB blob;
        rc = ExportRsa(pConCtx->pDevCtx, number, size * 1024u, &blob);
        if (rc == SAR_OK) std::memcpy(pbBlob, &blob, sizeof blob);
    }
    if (rc != SAR_OK) return rc;
    *pulBlobLen = needed;
    LogMessage(LOG_DEBUG, "pulBlobLen[%lu]", *pulBlobLen);
    LogMessage(LOG_DEBUG, "%s end...", __func__);
    return SAR_OK;
}

ULONG DF_SignData_RSA(ConCtx* pConCtx, const BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen)
{
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (!pbData) return DF_NULL("pbData", SAR_INVALIDPARAMERR);
    if (!pulSignLen) return DF_NULL("pulSignLen", SAR_INVALIDPARAMERR);
    const ContCtx& record = *pConCtx->pContCtx;
    if (record.AlgType != devicelib::UK_ALG_RSA) {
        LogMessage(LOG_ERROR, "pConCtx->pContCtx->AlgType err[%#x]", record.AlgType);
        return SAR_INDATALENERR;
    }
    KeyChoice key;
    if (!SigningKey(record, key)) return SAR_KEYNOTFOUNTERR;
    const ULONG keyLen = key.size * 128u;
    if (keyLen < kPkcs1Overhead || ulDataLen > keyLen - kPkcs1Overhead) {
        LogMessage(LOG_ERROR, "Data len err[%#lx]", ulDataLen);
        return SAR_INDATALENERR;
    }
    if (!pbSignature) {
        *pulSignLen = keyLen;
        return SAR_OK;
    }
    std::vector<BYTE> signature;
    if (ULONG rc =
            PrivateKeyOperation(pConCtx->pDevCtx, devicelib::UK_ALG_RSA, devicelib::UK_USE_PRIVATE_SIGN,
                                devicelib::UK_PAD_PKCS1, key.id, keyLen, pbData, ulDataLen, kSignRoom, signature))
        return rc;
    const ULONG len = static_cast<ULONG>(signature.size());
    if (*pulSignLen < len) {
        *pulSignLen = len;
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(pbSignature, signature.data(), len);
    *pulSignLen = len;
    return SAR_OK;
}

// The digest is signed as given.
ULONG DF_SignData_ECC(ConCtx* pConCtx, const BYTE* pbDigest, ULONG ulDigestLen, ECCSIGNATUREBLOB* pSignature)
{
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (ulDigestLen != kEccCoordLen) {
        LogMessage(LOG_ERROR, "Data len err[%#lx]", ulDigestLen);
        return SAR_INDATALENERR;
    }
    if (!pbDigest) return DF_NULL("pbDigest", SAR_INVALIDPARAMERR);
    if (!pSignature) return DF_NULL("pSignature", SAR_INVALIDPARAMERR);
    const ContCtx& record = *pConCtx->pContCtx;
    if (!IsSm2(record)) {
        LogMessage(LOG_ERROR, "pConCtx->pContCtx->AlgType err[%#x]", record.AlgType);
        return SAR_INDATALENERR;
    }
    KeyChoice key;
    if (!SigningKey(record, key)) return SAR_KEYNOTFOUNTERR;
    std::vector<BYTE> rs;
    if (ULONG rc = PrivateKeyOperation(pConCtx->pDevCtx, devicelib::UK_ALG_SM2, devicelib::UK_USE_PRIVATE_SIGN,
                                       devicelib::UK_PAD_PKCS1, key.id, key.size * 128u, pbDigest, ulDigestLen,
                                       kEccSignRoom, rs))
        return rc;
    if (rs.size() < 2 * kEccCoordLen) {
        LogMessage(LOG_ERROR, "PrikeySign  ERR[%#x]", static_cast<unsigned>(rs.size()));
        return SAR_FAIL;
    }
    std::memset(pSignature, 0, sizeof *pSignature);
    std::memcpy(pSignature->r + kEccCoordLen, rs.data(), kEccCoordLen);
    std::memcpy(pSignature->s + kEccCoordLen, rs.data() + kEccCoordLen, kEccCoordLen);
    return SAR_OK;
}

ULONG UnwrapOnToken(ConCtx* pConCtx, bool signatureKey, const BYTE* data, ULONG dataLen, std::vector<BYTE>& out)
{
    const ContCtx& record = *pConCtx->pContCtx;
    const std::uint8_t size = signatureKey ? record.SignKeyLen : record.ExchKeyLen;
    const devicelib::UK_KEY_REF* id = signatureKey ? &record.SignPriKey : &record.ExchPriKey;
    if (IsSm2(record))
        return PrivateKeyOperation(pConCtx->pDevCtx, devicelib::UK_ALG_SM2, devicelib::UK_USE_PRIVATE_DECRYPT,
                                   devicelib::UK_PAD_PKCS1, id, size * 128u, data, dataLen, kUnwrapRoom, out);
    return PrivateKeyOperation(pConCtx->pDevCtx, devicelib::UK_ALG_RSA, devicelib::UK_USE_PRIVATE_SIGN,
                               devicelib::UK_PAD_NONE, id, size * 128u, data, dataLen, kUnwrapRoom, out);
}

// Device-layer import of an enveloped exchange key pair: the envelope's
// symmetric key is unwrapped with the container's signature key, the
// private key decrypted on the token's cipher and both halves imported.
#include "KeyLayer.h"
#include "Logger.h"
#include "DeviceLibrary.h"
#include "tokencrypto/RsaKeyDer.h"
#include "tokencrypto/SecureZero.h"

#include <cstring>

namespace {

constexpr ULONG kPlainRoom = 2048;
constexpr ULONG kEccCoordLen = 32;
constexpr ULONG kEccBits = 256;
constexpr ULONG kEccUnwrapRoom = 512;
constexpr std::uint32_t kUpdateRecord = 0x10000;

// The session key is released whatever happens.
struct SessionKeyGuard {
    SessionKeyHandle* key = nullptr;
    ~SessionKeyGuard() { DF_CloseSessionKey(key); }
};

// Decrypts on the token's cipher with a zero IV of one block and no
// padding.
ULONG DecryptWithKey(DevCtx* pDevCtx, const BYTE* key, ULONG algId, const BYTE* data, ULONG dataLen,
                     std::vector<BYTE>& plain)
{
    SessionKeyGuard session;
    if (ULONG rc = DF_SetSymmKey(pDevCtx, key, algId, &session.key)) {
        LogMessage(LOG_ERROR, "DF_SetSymmKey  ERR[%#lx]", rc);
        return rc;
    }
    BLOCKCIPHERPARAM param = {};
    param.IVLen = kCipherBlock;
    if (ULONG rc = DF_DecryptInit(session.key, param)) {
        LogMessage(LOG_ERROR, "DF_DecryptInit  ERR[%#lx]", rc);
        return rc;
    }
    plain.assign(kPlainRoom, 0);
    ULONG len = kPlainRoom;
    if (ULONG rc = DF_Decrypt(session.key, data, dataLen, plain.data(), &len)) {
        LogMessage(LOG_ERROR, "DF_Decrypt  ERR[%#lx]", rc);
        return rc;
    }
    plain.resize(len);
    LogMessage(LOG_DEBUG, "PriPubKey[%lu]", len);
    return SAR_OK;
}

// Records the exchange key's size in the handle's record and on the token.
ULONG RecordExchangeKey(ConCtx* pConCtx, std::uint8_t size, bool setSm2, const char* readError, const char* writeError)
{
    ContCtx& handleRecord = *pConCtx->pContCtx;
    handleRecord.ExchKeyLen = size;
    ContCtx record = {};
    record.ConNumber = handleRecord.ConNumber;
    devicelib::UK_HANDLE device = pConCtx->pDevCtx->pCtx;
    // Held from the read to the write, as a key another process records in
    // the same container would be lost.
    TokenHold hold;
    if (ULONG rc = HoldToken(hold, pConCtx->pDevCtx)) return rc;
    ULONG rc = g_FuncList->ReadContainer(device, reinterpret_cast<std::uint8_t*>(&record));
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, readError, rc);
        return rc;
    }
    if (setSm2) record.AlgType = devicelib::UK_ALG_SM2;
    record.ExchKeyLen = size;
    rc = g_FuncList->WriteContainer(device, reinterpret_cast<const std::uint8_t*>(&record), kUpdateRecord);
    if (rc != devicelib::UK_OK) LogMessage(LOG_ERROR, writeError, rc);
    return rc;
}

#define CHECK_IMPORT_CONTAINER(con) CheckContainerContext(con, "hContainer", __FILE__, __LINE__)

ULONG ImportRsaKey(DevCtx* pDevCtx, const ContCtx& record, const tokencrypto::RsaPrivateKey& key)
{
    devicelib::UK_PRIVATE_KEY pri = {key.bits,
                                     key.modulus,
                                     key.publicExponent,
                                     key.exponent,
                                     {key.prime[0], key.prime[1]},
                                     {key.primeExponent[0], key.primeExponent[1]},
                                     key.coefficient};
    devicelib::UK_KEY_REF priRef = {devicelib::UK_REF_RSA_PRIVATE, record.ExchPriKey.number};
    ULONG rc = g_FuncList->ImportPrivateKey(pDevCtx->pCtx, devicelib::UK_ALG_RSA, &priRef, &pri);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "ImportPrivateKey  ERR[%#lx]", rc);
        return rc;
    }
    devicelib::UK_PUBLIC_KEY pub = {key.bits, const_cast<std::uint8_t*>(key.modulus),
                                    const_cast<std::uint8_t*>(key.publicExponent)};
    devicelib::UK_KEY_REF pubRef = {devicelib::UK_REF_RSA_PUBLIC, record.ExchPubKey.number};
    rc = g_FuncList->ImportPublicKey(pDevCtx->pCtx, devicelib::UK_ALG_RSA, &pubRef, &pub);
    if (rc != devicelib::UK_OK) LogMessage(LOG_ERROR, "ImportPublicKey  ERR[%#lx]", rc);
    return rc;
}

} // namespace

ULONG DF_ImportRSAKeyPair(ConCtx* pConCtx, ULONG ulSymAlgId, const BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                          const BYTE* pbEncryptedData, ULONG ulEncryptedDataLen)
{
    LogMessage(LOG_DEBUG, "DF_ImportRSAKeyPair start...");
    if (ULONG rc = CHECK_IMPORT_CONTAINER(pConCtx)) return rc;
    if (!pbWrappedKey) return DF_NULL("pbWrappedKey", SAR_INVALIDPARAMERR);
    if (!pbEncryptedData) return DF_NULL("pbEncryptedData", SAR_INVALIDPARAMERR);
    const ContCtx& record = *pConCtx->pContCtx;
    LogMessage(LOG_DEBUG, "hContainer[conName:%s][%#x][%#x][%#x][%#x][%#x][%#x][%#x][%#x]", record.conName,
               record.ConNumber, record.AlgType, record.ExchKeyLen, record.SignKeyLen, record.ExchPubKey.number,
               record.ExchPriKey.number, record.SignPubKey.number, record.SignPriKey.number);
    LogMessage(LOG_DEBUG, "hContainer[sign[%d], ex[%d]]", record.SignKeyLen, record.ExchKeyLen);
    if (!record.SignKeyLen) {
        LogMessage(LOG_ERROR, "sign key not exist");
        return SAR_KEYNOTFOUNTERR;
    }
    // The plaintext of the private key is decrypted into a 2048-byte buffer.
    if (ulEncryptedDataLen > kPlainRoom) {
        LogMessage(LOG_ERROR, "ulEncryptedDataLen err[%lu]", ulEncryptedDataLen);
        return SAR_INDATALENERR;
    }
    std::vector<BYTE> unwrapped;
    if (ULONG rc = UnwrapOnToken(pConCtx, true, pbWrappedKey, ulWrappedKeyLen, unwrapped)) {
        LogMessage(LOG_ERROR, "RSA_Decode_data  ERR[%#lx]", rc);
        return rc;
    }
    if (unwrapped.size() < kSessionKeyLen) {
        LogMessage(LOG_ERROR, "RSA_Decode_data  ERR[%#x]", static_cast<unsigned>(unwrapped.size()));
        return SAR_INDATALENERR;
    }
    const BYTE* symKey = unwrapped.data() + unwrapped.size() - kSessionKeyLen;
    LogMessage(LOG_DEBUG, "SymData[%lu]", kSessionKeyLen);
    std::vector<BYTE> plain;
    ULONG rc = DecryptWithKey(pConCtx->pDevCtx, symKey, ulSymAlgId, pbEncryptedData, ulEncryptedDataLen, plain);
    tokencrypto::SecureZero(unwrapped.data(), unwrapped.size());
    if (rc != SAR_OK) return rc;
    tokencrypto::RsaPrivateKey key;
    rc = plain.empty() || plain[0] != 0x30
        ? tokencrypto::DER_ERR_BAD_DATA
        : tokencrypto::DerDecodeRSAKey(plain.data(), static_cast<std::uint32_t>(plain.size()), &key);
    tokencrypto::SecureZero(plain.data(), plain.size());
    if (rc != tokencrypto::DER_OK) {
        LogMessage(LOG_ERROR, "DerDecodeRSAKey  ERR[%#lx]", rc);
        tokencrypto::SecureZero(&key, sizeof key);
        return rc;
    }
    LogMessage(LOG_DEBUG, "tmpPriKey[%u]", static_cast<unsigned>(key.bits));
    rc = ImportRsaKey(pConCtx->pDevCtx, record, key);
    const std::uint8_t size = static_cast<std::uint8_t>(key.bits / 1024);
    tokencrypto::SecureZero(&key, sizeof key);
    if (rc != SAR_OK) return rc;
    rc = RecordExchangeKey(pConCtx, size, false, "ReadContainer  ERR[%#lx]", "WriteContainer  ERR[%#lx]");
    if (rc == SAR_OK) LogMessage(LOG_DEBUG, "DF_ImportRSAKeyPair end...");
    return rc;
}

ULONG DF_ImportECCKeyPair(ConCtx* pConCtx, const ENVELOPEDKEYBLOB* pEnvelopedKeyBlob)
{
    if (!pEnvelopedKeyBlob) return DF_NULL("pEnvelopedKeyBlob", SAR_INVALIDPARAMERR);
    const ECCCIPHERBLOB& wrapped = pEnvelopedKeyBlob->ECCCipherBlob;
    // The unwrapped key lands in a 512-byte buffer.
    if (wrapped.CipherLen > kEccUnwrapRoom - 97) {
        LogMessage(LOG_ERROR, "CipherLen err[%lu]", wrapped.CipherLen);
        return SAR_INDATALENERR;
    }
    std::vector<BYTE> cipher;
    if (ULONG rc = Sm2CipherFromBlob(&wrapped, wrapped.CipherLen, cipher)) return rc;
    LogMessage(LOG_DEBUG, "SM2 PubKey:");
    LogHexData(&pEnvelopedKeyBlob->PubKey, sizeof pEnvelopedKeyBlob->PubKey);
    if (ULONG rc = CHECK_IMPORT_CONTAINER(pConCtx)) return rc;
    const ContCtx& record = *pConCtx->pContCtx;
    if (!record.SignKeyLen) {
        LogMessage(LOG_ERROR, "sign key not exist");
        return SAR_KEYNOTFOUNTERR;
    }
    LogMessage(LOG_DEBUG, "indata[%u]:", static_cast<unsigned>(cipher.size()));
    std::vector<BYTE> unwrapped;
    if (ULONG rc = UnwrapOnToken(pConCtx, true, cipher.data(), static_cast<ULONG>(cipher.size()), unwrapped)) return rc;
    LogMessage(LOG_DEBUG, "bRes[%u]:", static_cast<unsigned>(unwrapped.size()));
    if (unwrapped.size() < kSessionKeyLen) return SAR_INDATALENERR;
    std::vector<BYTE> plain;
    ULONG rc = DecryptWithKey(pConCtx->pDevCtx, unwrapped.data(), pEnvelopedKeyBlob->ulSymmAlgID,
                              pEnvelopedKeyBlob->cbEncryptedPriKey, sizeof pEnvelopedKeyBlob->cbEncryptedPriKey, plain);
    tokencrypto::SecureZero(unwrapped.data(), unwrapped.size());
    if (rc != SAR_OK) return rc;
    if (plain.size() < kEccCoordLen) return SAR_INDATALENERR;
    devicelib::UK_KEY_REF ref = {devicelib::UK_REF_SM2_PRIVATE, record.ExchPriKey.number};
    devicelib::UK_PRIVATE_KEY pri = {
        kEccBits, plain.data() + plain.size() - kEccCoordLen, nullptr, nullptr, {nullptr, nullptr}, {nullptr, nullptr},
        nullptr};
    rc = g_FuncList->ImportPrivateKey(pConCtx->pDevCtx->pCtx, devicelib::UK_ALG_SM2, &ref, &pri);
    tokencrypto::SecureZero(plain.data(), plain.size());
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "---->ImportPrivateKey Error. Code[%#lx]", rc);
        return rc;
    }
    BYTE x[kEccCoordLen], y[kEccCoordLen];
    std::memcpy(x, pEnvelopedKeyBlob->PubKey.XCoordinate + kEccCoordLen, kEccCoordLen);
    std::memcpy(y, pEnvelopedKeyBlob->PubKey.YCoordinate + kEccCoordLen, kEccCoordLen);
    LogMessage(LOG_DEBUG, "pEnvelopedKeyBlob->PubKey.XCoordinate[%lu]", kEccCoordLen);
    LogHexData(x, kEccCoordLen);
    LogMessage(LOG_DEBUG, "pEnvelopedKeyBlob->PubKey.YCoordinate[%lu]", kEccCoordLen);
    LogHexData(y, kEccCoordLen);
    devicelib::UK_PUBLIC_KEY pub = {kEccBits, x, y};
    devicelib::UK_KEY_REF pubRef = {devicelib::UK_REF_SM2_PUBLIC, record.ExchPubKey.number};
    rc = g_FuncList->ImportPublicKey(pConCtx->pDevCtx->pCtx, devicelib::UK_ALG_SM2, &pubRef, &pub);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "---->ImportPublicKey Error. Code[%#lx]", rc);
        return rc;
    }
    return RecordExchangeKey(pConCtx, 1, true, "---->ReadContainer Error. Code[%#lx]",
                             "---->WriteContainer Error. Code[%#lx]");
}

// Device-layer operations on keys the caller hands in, all in software:
// SM2 signatures and encryption, raw RSA and RSA key-pair generation.
#include "EccPoint.h"
#include "KeyLayer.h"
#include "Logger.h"
#include "tokencrypto/Rsa.h"
#include "tokencrypto/SecureZero.h"
#include "tokencrypto/Sm2.h"

#include <cstring>

using namespace tokencrypto;

namespace {

constexpr ULONG kCoordLen = 32;
constexpr ULONG kSm2Room = 1024;
constexpr ULONG kMinPkcs1Padding = 11; // 00 01, eight FF at least, 00

// Wipes a key record when it goes out of scope.
template <typename T>
struct Wiped : T {
    Wiped() : T() { }
    ~Wiped() { SecureZero(this, sizeof(T)); }
};

Sm2PublicKey Sm2Public(const ECCPUBLICKEYBLOB& blob)
{
    Sm2PublicKey key = {};
    key.bits = blob.BitLen;
    std::memcpy(key.x, blob.XCoordinate + kCoordLen, kCoordLen);
    std::memcpy(key.y, blob.YCoordinate + kCoordLen, kCoordLen);
    return key;
}

void Sm2Private(const ECCPRIVATEKEYBLOB& blob, Sm2PrivateKey& key)
{
    key.bits = blob.BitLen;
    std::memcpy(key.d, blob.PrivateKey + kCoordLen, kCoordLen);
}

void RsaPublic(const RSAPUBLICKEYBLOB& blob, RsaPublicKey& key)
{
    std::memset(&key, 0, sizeof key);
    key.bits = blob.BitLen;
    std::memcpy(key.modulus, blob.Modulus, sizeof blob.Modulus);
    std::memcpy(key.exponent + sizeof key.exponent - MAX_RSA_EXPONENT_LEN, blob.PublicExponent, MAX_RSA_EXPONENT_LEN);
}

// A verifying exponent is odd and at least 3: with 1 the signature is the
// block itself and anyone could make one.
bool IsVerifyingExponent(const RSAPUBLICKEYBLOB& blob)
{
    const BYTE* e = blob.PublicExponent;
    const std::uint32_t value =
        (std::uint32_t {e[0]} << 24) | (std::uint32_t {e[1]} << 16) | (std::uint32_t {e[2]} << 8) | e[3];
    return value >= 3 && (value & 1);
}

// The signature as a number below the modulus.
bool IsBelowModulus(const RSAPUBLICKEYBLOB& blob, const BYTE* signature, ULONG len)
{
    return std::memcmp(signature, blob.Modulus + sizeof blob.Modulus - len, len) < 0;
}

ULONG ModulusLength(ULONG bits)
{
    return (bits + 7) / 8;
}

// The raw public-key operation; out holds the modulus length.
ULONG PublicOperation(const RsaPublicKey& key, const BYTE* input, ULONG inputLen, std::vector<BYTE>& out)
{
    const ULONG len = ModulusLength(key.bits);
    if (inputLen != len || len > RSA_MAX_MODULUS_LEN) return SOFT_ERR_LENGTH;
    out.assign(RSA_MAX_MODULUS_LEN, 0);
    std::uint32_t outLen = RSA_MAX_MODULUS_LEN;
    if (std::uint32_t rc = soft_RSA_PublicEncrypt(out.data(), &outLen, input, inputLen, &key)) return rc;
    if (outLen != len) return SOFT_ERR_LENGTH;
    out.resize(outLen);
    return SAR_OK;
}

ULONG CopyOut(const BYTE* data, ULONG len, BYTE* pbOutput, ULONG* pulOutputLen)
{
    if (*pulOutputLen < len) {
        *pulOutputLen = len;
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(pbOutput, data, len);
    *pulOutputLen = len;
    return SAR_OK;
}

void RightAlign(BYTE* field, ULONG fieldLen, const std::uint8_t* value, ULONG valueLen)
{
    std::memcpy(field + fieldLen - valueLen, value + RSA_MAX_MODULUS_LEN - valueLen, valueLen);
}

void RightAlignHalf(BYTE* field, const std::uint8_t* value, ULONG len)
{
    std::memcpy(field + RSA_MAX_PRIME_LEN - len, value + RSA_MAX_PRIME_LEN - len, len);
}

// The data is the 32-byte digest, no more and no less.
ULONG Verify(const ECCPUBLICKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen, const ECCSIGNATUREBLOB* pSignature)
{
    if (!pKey) return DF_NULL("pECCPubKeyBlob", SAR_INVALIDPARAMERR);
    if (!pbData) return DF_NULL("pbData", SAR_INVALIDPARAMERR);
    if (!pSignature) return DF_NULL("pSignature", SAR_INVALIDPARAMERR);
    if (ulDataLen != kCoordLen) {
        LogMessage(LOG_ERROR, "Data len err[%#lx]", ulDataLen);
        return SAR_INDATALENERR;
    }
    if (!IsSm2Point(*pKey)) {
        LogMessage(LOG_ERROR, "pECCPubKeyBlob err");
        return SAR_INVALIDPARAMERR;
    }
    Sm2PublicKey key = Sm2Public(*pKey);
    BYTE rs[SM2_SIGNATURE_LENGTH];
    std::memcpy(rs, pSignature->r + kCoordLen, kCoordLen);
    std::memcpy(rs + kCoordLen, pSignature->s + kCoordLen, kCoordLen);
    if (std::uint32_t rc = SM2_Verify(&key, pbData, rs)) {
        LogMessage(LOG_ERROR, "SM2_Verify err[%#x]", rc);
        return SAR_FAIL;
    }
    return SAR_OK;
}

} // namespace

// The private key leaves the library in clear, as the caller asked.
ULONG DF_GenExtRSAKey(ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob)
{
    LogMessage(LOG_DEBUG, "%s start...", __func__);
    if (!pBlob) return DF_NULL("pBlob", SAR_INVALIDPARAMERR);
    if (ulBitsLen != 1024 && ulBitsLen != 2048) {
        LogMessage(LOG_ERROR, "ulBitsLen err[%d]", static_cast<int>(ulBitsLen));
        return SAR_RSAMODULUSLENERR;
    }
    Wiped<RsaPublicKey> pub;
    Wiped<RsaPrivateKey> pri;
    if (std::uint32_t rc = RSA_GenerateKey(ulBitsLen, &pub, &pri)) {
        LogMessage(LOG_ERROR, "RSA_GenerateKey err[%#x]", rc);
        return SAR_FAIL;
    }
    const ULONG len = ModulusLength(pri.bits);
    if (len != 128 && len != 256) {
        LogMessage(LOG_ERROR, "mlen err[%d]", static_cast<int>(len));
        return SAR_FAIL;
    }
    const ULONG half = len / 2;
    std::memset(pBlob, 0, sizeof *pBlob);
    pBlob->AlgID = SGD_RSA;
    pBlob->BitLen = pri.bits;
    RightAlign(pBlob->Modulus, sizeof pBlob->Modulus, pri.modulus, len);
    RightAlign(pBlob->PublicExponent, sizeof pBlob->PublicExponent, pri.publicExponent, MAX_RSA_EXPONENT_LEN);
    RightAlign(pBlob->PrivateExponent, sizeof pBlob->PrivateExponent, pri.exponent, len);
    RightAlignHalf(pBlob->Prime1, pri.prime[0], half);
    RightAlignHalf(pBlob->Prime2, pri.prime[1], half);
    RightAlignHalf(pBlob->Prime1Exponent, pri.primeExponent[0], half);
    RightAlignHalf(pBlob->Prime2Exponent, pri.primeExponent[1], half);
    RightAlignHalf(pBlob->Coefficient, pri.coefficient, half);
    LogMessage(LOG_DEBUG, "RsaPriKey.modulus");
    LogHexData(pBlob->Modulus, sizeof pBlob->Modulus);
    LogMessage(LOG_DEBUG, "%s end...", __func__);
    return SAR_OK;
}

// The recovered block must be exactly 00 01, at least eight FF, 00 and
// the data: a signature over any other data, or any other block, fails.
ULONG DF_Verify_RSA(const RSAPUBLICKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen, const BYTE* pbSignature,
                    ULONG ulSignLen)
{
    if (!pKey) return DF_NULL("pRSAPubKeyBlob", SAR_INVALIDPARAMERR);
    if (!pbData) return DF_NULL("pbData", SAR_INVALIDPARAMERR);
    if (!pbSignature) return DF_NULL("pbSignature", SAR_INVALIDPARAMERR);
    const ULONG len = ModulusLength(pKey->BitLen);
    ULONG rc = SAR_OK;
    if (ulSignLen != len || len < kMinPkcs1Padding || len > RSA_MAX_MODULUS_LEN || !IsVerifyingExponent(*pKey) ||
        !IsBelowModulus(*pKey, pbSignature, len))
        rc = SOFT_ERR_LENGTH;
    std::vector<BYTE> block;
    if (rc == SAR_OK) {
        RsaPublicKey key;
        RsaPublic(*pKey, key);
        LogMessage(LOG_DEBUG, "soft_RSA_PublicEncrypt start...");
        rc = PublicOperation(key, pbSignature, ulSignLen, block);
    }
    if (rc != SAR_OK) {
        LogMessage(LOG_ERROR, "RSA_Verify err[%#lx]", rc);
        return SAR_FAIL;
    }
    if (ulDataLen > len - kMinPkcs1Padding) {
        LogMessage(LOG_ERROR, "soft_RSA_PublicEncrypt ERR...");
        return SAR_FAIL;
    }
    std::vector<BYTE> expected(len, 0xFF);
    expected[0] = 0x00;
    expected[1] = 0x01;
    expected[len - ulDataLen - 1] = 0x00;
    if (ulDataLen) std::memcpy(expected.data() + len - ulDataLen, pbData, ulDataLen);
    if (block != expected) {
        LogMessage(LOG_ERROR, "soft_RSA_PublicEncrypt ERR...");
        return SAR_FAIL;
    }
    return SAR_OK;
}

ULONG DF_Verify_ECC(const ECCPUBLICKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen,
                    const ECCSIGNATUREBLOB* pSignature)
{
    return Verify(pKey, pbData, ulDataLen, pSignature);
}

ULONG DF_ExtECCVerify(const ECCPUBLICKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen,
                      const ECCSIGNATUREBLOB* pSignature)
{
    if (pKey && pbData && pSignature && ulDataLen == kCoordLen) {
        LogMessage(LOG_DEBUG, "pECCPubKeyBlob:");
        LogHexData(pKey, sizeof *pKey);
        LogMessage(LOG_DEBUG, "pbData[%lu]:", ulDataLen);
        LogHexData(pbData, kCoordLen);
        LogMessage(LOG_DEBUG, "pSignature:");
        LogHexData(pSignature, sizeof *pSignature);
    }
    return Verify(pKey, pbData, ulDataLen, pSignature);
}

ULONG DF_ExtRSAPubKeyOperation(const RSAPUBLICKEYBLOB* pKey, const BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                               ULONG* pulOutputLen)
{
    if (!pulOutputLen) return DF_NULL("pulOutputLen", SAR_INVALIDPARAMERR);
    if (!pbOutput) {
        *pulOutputLen = pKey->BitLen / 8;
        return SAR_OK;
    }
    RsaPublicKey key;
    RsaPublic(*pKey, key);
    std::vector<BYTE> out;
    if (ULONG rc = PublicOperation(key, pbInput, ulInputLen, out)) {
        LogMessage(LOG_ERROR, "RSA_Verify err[%#lx]", rc);
        return SAR_FAIL;
    }
    return CopyOut(out.data(), static_cast<ULONG>(out.size()), pbOutput, pulOutputLen);
}

ULONG DF_ExtRSAPriKeyOperation(const RSAPRIVATEKEYBLOB* pKey, const BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                               ULONG* pulOutputLen)
{
    if (!pulOutputLen) return DF_NULL("pulOutputLen", SAR_INVALIDPARAMERR);
    const ULONG len = pKey->BitLen / 8;
    if (!pbOutput) {
        *pulOutputLen = len;
        return SAR_OK;
    }
    if (len != 128 && len != 256) {
        LogMessage(LOG_ERROR, "mlen err[%d]", static_cast<int>(len));
        return SAR_FAIL;
    }
    Wiped<RsaPrivateKey> key;
    key.bits = pKey->BitLen;
    std::memcpy(key.modulus, pKey->Modulus, sizeof pKey->Modulus);
    std::memcpy(key.publicExponent + RSA_MAX_MODULUS_LEN - MAX_RSA_EXPONENT_LEN, pKey->PublicExponent,
                MAX_RSA_EXPONENT_LEN);
    std::memcpy(key.exponent, pKey->PrivateExponent, sizeof pKey->PrivateExponent);
    std::memcpy(key.prime[0], pKey->Prime1, RSA_MAX_PRIME_LEN);
    std::memcpy(key.prime[1], pKey->Prime2, RSA_MAX_PRIME_LEN);
    std::memcpy(key.primeExponent[0], pKey->Prime1Exponent, RSA_MAX_PRIME_LEN);
    std::memcpy(key.primeExponent[1], pKey->Prime2Exponent, RSA_MAX_PRIME_LEN);
    std::memcpy(key.coefficient, pKey->Coefficient, RSA_MAX_PRIME_LEN);
    std::vector<BYTE> out(RSA_MAX_MODULUS_LEN);
    std::uint32_t outLen = RSA_MAX_MODULUS_LEN;
    std::uint32_t rc =
        ulInputLen == len ? soft_RSA_PrivateDecrypt(out.data(), &outLen, pbInput, ulInputLen, &key) : SOFT_ERR_LENGTH;
    if (rc == RSA_OK && outLen != len) rc = SOFT_ERR_LENGTH;
    if (rc != RSA_OK) {
        LogMessage(LOG_ERROR, "soft_RSA_PrivateDecrypt err[%#x]", rc);
        return SAR_FAIL;
    }
    ULONG result = CopyOut(out.data(), outLen, pbOutput, pulOutputLen);
    SecureZero(out.data(), out.size());
    return result;
}

// The caller's record has room for ulPlainTextLen bytes of cipher.
ULONG DF_ExtECCEncrypt(const ECCPUBLICKEYBLOB* pKey, const BYTE* pbPlainText, ULONG ulPlainTextLen,
                       ECCCIPHERBLOB* pCipherText)
{
    LogMessage(LOG_DEBUG, "%s start...", __func__);
    if (!pCipherText) return DF_NULL("pCipherText", SAR_INVALIDPARAMERR);
    Sm2PublicKey key = Sm2Public(*pKey);
    LogMessage(LOG_DEBUG, "ukSM2PubKey.x[%d]", static_cast<int>(kCoordLen));
    LogHexData(key.x, kCoordLen);
    LogMessage(LOG_DEBUG, "ukSM2PubKey.y[%d]", static_cast<int>(kCoordLen));
    LogHexData(key.y, kCoordLen);
    std::uint32_t rc = SOFT_ERR_TOO_LONG;
    std::vector<BYTE> out(kSm2Room);
    std::uint32_t outLen = 0;
    if (ulPlainTextLen <= kSm2Room - SM2_CIPHER_OVERHEAD)
        rc = SM2_Enc(&key, pbPlainText, ulPlainTextLen, out.data(), &outLen, ulPlainTextLen + SM2_CIPHER_OVERHEAD);
    if (rc != SM2_OK) {
        LogMessage(LOG_ERROR, "SM2_Enc err[%#x]", rc);
        return SAR_FAIL;
    }
    LogMessage(LOG_DEBUG, "outbuf[%u]", static_cast<unsigned>(outLen));
    LogHexData(out.data(), outLen);
    const ULONG cipherLen = outLen - SM2_CIPHER_OVERHEAD;
    std::memset(pCipherText->XCoordinate, 0, sizeof pCipherText->XCoordinate);
    std::memset(pCipherText->YCoordinate, 0, sizeof pCipherText->YCoordinate);
    std::memcpy(pCipherText->XCoordinate + kCoordLen, out.data() + 1, kCoordLen);
    std::memcpy(pCipherText->YCoordinate + kCoordLen, out.data() + 1 + kCoordLen, kCoordLen);
    std::memcpy(pCipherText->Cipher, out.data() + 1 + 2 * kCoordLen, cipherLen);
    std::memcpy(pCipherText->HASH, out.data() + 1 + 2 * kCoordLen + cipherLen, sizeof pCipherText->HASH);
    pCipherText->CipherLen = cipherLen;
    LogMessage(LOG_DEBUG, "hashData[%d][pCipherText->CipherLen:%lu]", 32, cipherLen);
    return SAR_OK;
}

ULONG Sm2CipherFromBlob(const ECCCIPHERBLOB* pCipher, ULONG cipherRoom, std::vector<BYTE>& out)
{
    const ULONG cipherLen = pCipher->CipherLen;
    if (cipherLen > cipherRoom || cipherLen > kSm2Room - SM2_CIPHER_OVERHEAD) {
        LogMessage(LOG_ERROR, "CipherLen err[%lu]", cipherLen);
        return SOFT_ERR_TOO_LONG;
    }
    out.assign(1, 0x04);
    out.insert(out.end(), pCipher->XCoordinate + kCoordLen, pCipher->XCoordinate + 2 * kCoordLen);
    out.insert(out.end(), pCipher->YCoordinate + kCoordLen, pCipher->YCoordinate + 2 * kCoordLen);
    out.insert(out.end(), pCipher->Cipher, pCipher->Cipher + cipherLen);
    out.insert(out.end(), pCipher->HASH, pCipher->HASH + sizeof pCipher->HASH);
    return SAR_OK;
}

ULONG DF_ExtECCDecrypt(const ECCPRIVATEKEYBLOB* pKey, const ECCCIPHERBLOB* pCipherText, BYTE* pbPlainText,
                       ULONG* pulPlainTextLen)
{
    if (!pCipherText) return DF_NULL("pCipherText", SAR_INVALIDPARAMERR);
    if (!pulPlainTextLen) return DF_NULL("pulPlainTextLen", SAR_INVALIDPARAMERR);
    const ULONG cipherLen = pCipherText->CipherLen;
    if (!pbPlainText) {
        *pulPlainTextLen = cipherLen;
        return SAR_OK;
    }
    std::vector<BYTE> cipher;
    if (std::uint32_t rc = Sm2CipherFromBlob(pCipherText, kSm2Room, cipher)) {
        LogMessage(LOG_ERROR, "SM2_Dec err[%#x]", rc);
        return SAR_FAIL;
    }
    Wiped<Sm2PrivateKey> key;
    Sm2Private(*pKey, key);
    std::vector<BYTE> plain(cipherLen + 1);
    std::uint32_t plainLen = 0;
    std::uint32_t rc =
        SM2_Dec(&key, cipher.data(), static_cast<std::uint32_t>(cipher.size()), plain.data(), &plainLen, cipherLen);
    if (rc != SM2_OK) {
        LogMessage(LOG_ERROR, "SM2_Dec err[%#x]", rc);
        return SAR_FAIL;
    }
    ULONG result = CopyOut(plain.data(), cipherLen, pbPlainText, pulPlainTextLen);
    SecureZero(plain.data(), plain.size());
    return result;
}

ULONG DF_ExtECCSign(const ECCPRIVATEKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen, ECCSIGNATUREBLOB* pSignature)
{
    if (ulDataLen != kCoordLen) {
        LogMessage(LOG_ERROR, "Data len err[%#lx]", ulDataLen);
        return SAR_INDATALENERR;
    }
    if (!pSignature) return DF_NULL("pSignature", SAR_INVALIDPARAMERR);
    Wiped<Sm2PrivateKey> key;
    Sm2Private(*pKey, key);
    BYTE rs[kSm2Room];
    std::uint32_t len = 0;
    if (std::uint32_t rc = SM2_Sign(&key, pbData, rs, &len)) {
        LogMessage(LOG_ERROR, "SM2_Sign err[%#x]", rc);
        return SAR_FAIL;
    }
    std::memset(pSignature, 0, sizeof *pSignature);
    std::memcpy(pSignature->r + kCoordLen, rs, kCoordLen);
    std::memcpy(pSignature->s + kCoordLen, rs + kCoordLen, kCoordLen);
    return SAR_OK;
}

// The device layer of keys: key pairs and signatures on the token, the
// software operations on keys the caller hands in, session keys with the
// token's cipher, and enveloped key-pair import.
#pragma once

#include "DeviceLayer.h"
#include "SkfKeyDefs.h"

#include <vector>

// A session key: 16 key bytes, the caller's algorithm code, the padding of
// the last cipher start, and the device it was made on.
struct SessionKeyHandle {
    BYTE key[256];
    ULONG ulAlgID;
    ULONG ulPadding;
    DevCtx* pDevCtx;
};

constexpr ULONG kSessionKeyLen = 16;
constexpr ULONG kStreamRoom = 20480;

// Codes of the software layer, as the token libraries share them.
constexpr ULONG SOFT_ERR_LENGTH = 1030;
constexpr ULONG SOFT_ERR_TOO_LONG = 1003;

// Key pairs and signatures on the token
ULONG CheckKeyContainer(const ConCtx* pConCtx, const char* file, int line);
#define DF_CHECK_CONTAINER(con) CheckKeyContainer(con, __FILE__, __LINE__)
ULONG DF_GenRSAKey(ConCtx* pConCtx, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob);
ULONG DF_GenKeyPair_ECC(ConCtx* pConCtx, ECCPUBLICKEYBLOB* pBlob);
ULONG DF_ExportPubKey(ConCtx* pConCtx, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen);
ULONG DF_SignData_RSA(ConCtx* pConCtx, const BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen);
ULONG DF_SignData_ECC(ConCtx* pConCtx, const BYTE* pbDigest, ULONG ulDigestLen, ECCSIGNATUREBLOB* pSignature);
// A raw private-key operation (RSA) or a decryption (SM2) with one of the
// container's private keys; the result replaces out.
ULONG UnwrapOnToken(ConCtx* pConCtx, bool signatureKey, const BYTE* data, ULONG dataLen, std::vector<BYTE>& out);

// External keys, in software
ULONG DF_GenExtRSAKey(ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob);
ULONG DF_Verify_RSA(const RSAPUBLICKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen, const BYTE* pbSignature,
                    ULONG ulSignLen);
ULONG DF_Verify_ECC(const ECCPUBLICKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen,
                    const ECCSIGNATUREBLOB* pSignature);
ULONG DF_ExtECCVerify(const ECCPUBLICKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen,
                      const ECCSIGNATUREBLOB* pSignature);
ULONG DF_ExtRSAPubKeyOperation(const RSAPUBLICKEYBLOB* pKey, const BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                               ULONG* pulOutputLen);
ULONG DF_ExtRSAPriKeyOperation(const RSAPRIVATEKEYBLOB* pKey, const BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                               ULONG* pulOutputLen);
ULONG DF_ExtECCEncrypt(const ECCPUBLICKEYBLOB* pKey, const BYTE* pbPlainText, ULONG ulPlainTextLen,
                       ECCCIPHERBLOB* pCipherText);
ULONG DF_ExtECCDecrypt(const ECCPRIVATEKEYBLOB* pKey, const ECCCIPHERBLOB* pCipherText, BYTE* pbPlainText,
                       ULONG* pulPlainTextLen);
ULONG DF_ExtECCSign(const ECCPRIVATEKEYBLOB* pKey, const BYTE* pbData, ULONG ulDataLen, ECCSIGNATUREBLOB* pSignature);
// 04 || x1 || y1 || C2 || C3 from a cipher record of cipherRoom bytes.
ULONG Sm2CipherFromBlob(const ECCCIPHERBLOB* pCipher, ULONG cipherRoom, std::vector<BYTE>& out);

// Session keys
ULONG DF_SetSymmKey(DevCtx* pDevCtx, const BYTE* pbKey, ULONG ulAlgID, SessionKeyHandle** ppKey);
void DF_CloseSessionKey(SessionKeyHandle* pKey);
bool IsLiveSessionKey(const void* handle);
ULONG DF_ECCExportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                             SessionKeyHandle** ppKey);
ULONG DF_RSAExportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                             ULONG* pulDataLen, SessionKeyHandle** ppKey);
ULONG DF_ImportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const BYTE* pbWrapedData, ULONG ulWrapedLen,
                          SessionKeyHandle** ppKey);

// The token cipher. Results stay in the process-wide stream buffers until
// the next encryption or decryption.
ULONG DF_EncryptInit(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param);
ULONG DF_DecryptInit(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param);
ULONG DF_Encrypt(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen);
ULONG DF_Decrypt(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen);
enum class Stream { EncryptUpdate, EncryptFinal, DecryptUpdate, DecryptFinal };
// Copies a stream buffer out: no buffer reports its length, a short one
// gets the length and SAR_BUFFER_TOO_SMALL.
ULONG HandOutStream(Stream which, BYTE* pbOut, ULONG* pulOutLen);

// Enveloped key-pair import
ULONG DF_ImportRSAKeyPair(ConCtx* pConCtx, ULONG ulSymAlgId, const BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                          const BYTE* pbEncryptedData, ULONG ulEncryptedDataLen);
ULONG DF_ImportECCKeyPair(ConCtx* pConCtx, const ENVELOPEDKEYBLOB* pEnvelopedKeyBlob);

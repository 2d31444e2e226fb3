// The device layer of keys: key pairs and signatures on the token, the
// software operations on keys the caller hands in, session keys with the
// token's cipher, and enveloped key-pair import.
#pragma once

#include "DeviceLayer.h"
#include "SkfKeyDefs.h"

#include <vector>

constexpr ULONG kCipherBlock = 16;

// Where a session key's stream stands: its direction, the chaining value
// for the next block, and the input bytes held back for the next call.
// Each key carries its own, so streams of several keys do not mix.
struct CipherStream {
    enum Mode : ULONG { None, Encrypting, Decrypting } mode;
    BYTE chain[kCipherBlock];
    BYTE held[kCipherBlock];
    ULONG heldLen;
};

// A session key: 16 key bytes, the caller's algorithm code, the padding of
// the last cipher start, the device it was made on (pDevCtx read only
// while its handle hDev is held), and its stream.
struct SessionKeyHandle {
    BYTE key[256];
    ULONG ulAlgID;
    ULONG ulPadding;
    DevCtx* pDevCtx;
    HANDLE hDev;
    CipherStream stream;
};

constexpr ULONG kSessionKeyLen = 16;
constexpr ULONG kStreamRoom = 20480;

// Codes of the software layer, as the token libraries share them.
constexpr ULONG SOFT_ERR_LENGTH = 1030;
constexpr ULONG SOFT_ERR_TOO_LONG = 1003;

// Key pairs and signatures on the token
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
bool IsSymmAlgorithm(ULONG ulAlgID);
ULONG DF_SetSymmKey(DevCtx* pDevCtx, const BYTE* pbKey, ULONG ulAlgID, SessionKeyHandle** ppKey);
// Wipes and frees a session key; nothing for nullptr.
void DF_CloseSessionKey(SessionKeyHandle* pKey);
ULONG DF_ECCExportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                             SessionKeyHandle** ppKey);
ULONG DF_RSAExportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                             ULONG* pulDataLen, SessionKeyHandle** ppKey);
ULONG DF_ImportSessionKey(ConCtx* pConCtx, ULONG ulAlgId, const BYTE* pbWrapedData, ULONG ulWrapedLen,
                          SessionKeyHandle** ppKey);

// The token cipher as a block stream. Update hands out whole blocks and
// holds the rest back (decrypting with padding, the last full block too);
// Final pads or checks and strips the padding; the one-shot calls are an
// Update and a Final together. Without an output buffer a call reports
// what it would write and changes nothing; a short buffer gets the length
// and SAR_BUFFER_TOO_SMALL, and the stream is left as it was.
ULONG DF_EncryptInit(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param);
ULONG DF_DecryptInit(SessionKeyHandle* pKey, const BLOCKCIPHERPARAM& param);
ULONG DF_Encrypt(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen);
ULONG DF_EncryptUpdate(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen);
ULONG DF_EncryptFinal(SessionKeyHandle* pKey, BYTE* pbOut, ULONG* pulOutLen);
ULONG DF_Decrypt(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen);
ULONG DF_DecryptUpdate(SessionKeyHandle* pKey, const BYTE* pbData, ULONG ulDataLen, BYTE* pbOut, ULONG* pulOutLen);
ULONG DF_DecryptFinal(SessionKeyHandle* pKey, BYTE* pbOut, ULONG* pulOutLen);

// Enveloped key-pair import
ULONG DF_ImportRSAKeyPair(ConCtx* pConCtx, ULONG ulSymAlgId, const BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                          const BYTE* pbEncryptedData, ULONG ulEncryptedDataLen);
ULONG DF_ImportECCKeyPair(ConCtx* pConCtx, const ENVELOPEDKEYBLOB* pEnvelopedKeyBlob);

// The key, signature and cipher exports of KeltoSKF, as callers declare them.
#pragma once

#include "SkfKeyDefs.h"

extern "C" {

// Key pairs and signatures on the token
ULONG DEVAPI SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob);
ULONG DEVAPI SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob);
ULONG DEVAPI SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen);
ULONG DEVAPI SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                             ULONG* pulSignLen);
ULONG DEVAPI SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbDigest, ULONG ulDigestLen, ECCSIGNATUREBLOB* pSignature);

// External keys, in software
ULONG DEVAPI SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob);
ULONG DEVAPI SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                           BYTE* pbSignature, ULONG ulSignLen);
ULONG DEVAPI SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                           ECCSIGNATUREBLOB* pSignature);
ULONG DEVAPI SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData, ULONG ulDataLen,
                              ECCSIGNATUREBLOB* pSignature);
ULONG DEVAPI SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbInput,
                                       ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen);
ULONG DEVAPI SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob, BYTE* pbInput,
                                       ULONG ulInputLen, BYTE* pbOutput, ULONG* pulOutputLen);
ULONG DEVAPI SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbPlainText,
                               ULONG ulPlainTextLen, ECCCIPHERBLOB* pCipherText);
ULONG DEVAPI SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, ECCCIPHERBLOB* pCipherText,
                               BYTE* pbPlainText, ULONG* pulPlainTextLen);
ULONG DEVAPI SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData, ULONG ulDataLen,
                            ECCSIGNATUREBLOB* pSignature);

// Session keys and the token cipher
ULONG DEVAPI SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HKEY_HANDLE* phKey);
ULONG DEVAPI SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey,
                                     ECCCIPHERBLOB* pData, HKEY_HANDLE* phSessionKey);
ULONG DEVAPI SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData,
                                     ULONG* pulDataLen, HKEY_HANDLE* phSessionKey);
ULONG DEVAPI SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                                  HKEY_HANDLE* phKey);
ULONG DEVAPI SKF_EncryptInit(HKEY_HANDLE hKey, BLOCKCIPHERPARAM EncryptParam);
ULONG DEVAPI SKF_Encrypt(HKEY_HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                         ULONG* pulEncryptedLen);
ULONG DEVAPI SKF_EncryptUpdate(HKEY_HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                               ULONG* pulEncryptedLen);
ULONG DEVAPI SKF_EncryptFinal(HKEY_HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen);
ULONG DEVAPI SKF_DecryptInit(HKEY_HANDLE hKey, BLOCKCIPHERPARAM DecryptParam);
ULONG DEVAPI SKF_Decrypt(HKEY_HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                         ULONG* pulDataLen);
ULONG DEVAPI SKF_DecryptUpdate(HKEY_HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                               ULONG* pulDataLen);
ULONG DEVAPI SKF_DecryptFinal(HKEY_HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen);
ULONG DEVAPI SKF_CloseHandle(HANDLE hHandle);
ULONG DEVAPI SKF_MacInit(HKEY_HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac);
ULONG DEVAPI SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData, ULONG* pulMacLen);
ULONG DEVAPI SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen);
ULONG DEVAPI SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen);
ULONG DEVAPI SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId,
                                              ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                              HANDLE* phAgreementHandle);
ULONG DEVAPI SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId,
                                                    ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                    ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                    ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                    BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle);
ULONG DEVAPI SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                    ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                    HANDLE* phKeyHandle);

// Enveloped key-pair import
ULONG DEVAPI SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                                  BYTE* pbEncryptedData, ULONG ulEncryptedDataLen);
ULONG DEVAPI SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob);

} // extern "C"

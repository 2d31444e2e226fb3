// SKF exports that import an enveloped exchange key pair into a container.
#include "ExportCall.h"
#include "KeyLayer.h"
#include "Logger.h"
#include "SkfKeyExports.h"

ULONG DEVAPI SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                                  BYTE* pbEncryptedData, ULONG ulEncryptedDataLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_POINTER_ARG(pbWrappedKey), SKF_POINTER_ARG(pbEncryptedData)}))
        return call.Refused();
    LogMessage(LOG_DEBUG, "ulSymAlgId[%#lx], pbWrappedKey[%lu]", ulSymAlgId, ulWrappedKeyLen);
    LogHexData(pbWrappedKey, ulWrappedKeyLen);
    LogMessage(LOG_DEBUG, "pbEncryptedData[%lu]", ulEncryptedDataLen);
    LogHexData(pbEncryptedData, ulEncryptedDataLen);
    if (ULONG rc = DF_ImportRSAKeyPair(call.Container(hContainer), ulSymAlgId, pbWrappedKey, ulWrappedKeyLen,
                                       pbEncryptedData, ulEncryptedDataLen))
        return call.Fail(SAR_FAIL, "DF_ImportRSAKeyPair err[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_POINTER_ARG(pEnvelopedKeyBlob)})) return call.Refused();
    if (ULONG rc = DF_ImportECCKeyPair(call.Container(hContainer), pEnvelopedKeyBlob))
        return call.Fail(SAR_FAIL, "DF_ImportECCKeyPair ERR[%#lx]", rc);
    return call.Done();
}

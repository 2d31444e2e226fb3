// SKF exports of containers and their certificates. Every failure of the
// device layer reaches the caller as SAR_FAIL, but for a missing
// certificate.
#include "DeviceLayer.h"
#include "ExportCall.h"
#include "Logger.h"
#include "SkfExports.h"

ULONG DEVAPI SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication), SKF_POINTER_ARG(szContainerName), SKF_HANDLE_OUT_ARG(phContainer)}))
        return call.Refused();
    if (!*szContainerName) return call.Fail(SAR_INVALIDPARAMERR, "containername len is 0");
    ConCtx* con = nullptr;
    if (ULONG rc = DF_CreateContainer(call.Device(hApplication), szContainerName, &con))
        return call.Fail(SAR_FAIL, "DF_CreateContainer ERR[%#lx]", rc);
    return call.HandOut(con, HandleKind::Container, DF_CloseContainer, phContainer);
}

ULONG DEVAPI SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication), SKF_POINTER_ARG(szContainerName)})) return call.Refused();
    if (ULONG rc = DF_DeleteContainer(call.Device(hApplication), szContainerName))
        return call.Fail(SAR_FAIL, "DF_DeleteContainer ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication), SKF_POINTER_ARG(szContainerName), SKF_HANDLE_OUT_ARG(phContainer)}))
        return call.Refused();
    ConCtx* con = nullptr;
    if (ULONG rc = DF_OpenContainer(call.Device(hApplication), szContainerName, &con))
        return call.Fail(SAR_FAIL, "DF_OpenContainer ERR[%#lx]", rc);
    return call.HandOut(con, HandleKind::Container, DF_CloseContainer, phContainer);
}

// The handle owns its record copy; both go, also after a disconnect.
ULONG DEVAPI SKF_CloseContainer(HCONTAINER hContainer)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CLOSING_CONTAINER_ARG(hContainer)})) return call.Refused();
    auto* con = static_cast<ConCtx*>(call.Take(hContainer, HandleKind::Container));
    if (!con) return call.Fail(SAR_INVALIDHANDLEERR, "Invalid Handle: hContainer");
    DF_CloseContainer(con);
    return call.Done();
}

ULONG DEVAPI SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication), SKF_POINTER_ARG(pulSize)})) return call.Refused();
    if (ULONG rc = DF_EnumContainer(call.Device(hApplication), szContainerName, pulSize))
        return call.Fail(SAR_FAIL, "DF_EnumContainer ERR[%#lx]", rc);
    return call.Done();
}

// Read from the handle's copy of the record, not from the token.
ULONG DEVAPI SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer), SKF_POINTER_ARG(pulContainerType)})) return call.Refused();
    const ContCtx& record = *call.Container(hContainer)->pContCtx;
    LogMessage(LOG_DEBUG, "pConCtx->pContCtx->AlgType[%#x]", record.AlgType);
    switch (record.AlgType) {
    case 0:
        *pulContainerType = CONTAINER_TYPE_NONE;
        break;
    case devicelib::UK_ALG_RSA:
        *pulContainerType = record.ExchKeyLen || record.SignKeyLen ? CONTAINER_TYPE_RSA : CONTAINER_TYPE_NONE;
        break;
    case devicelib::UK_ALG_SM2:
        *pulContainerType = CONTAINER_TYPE_SM2;
        break;
    default:
        // GBK: the algorithm information could not be read
        return call.Fail(SAR_FAIL,
                         "\xBB\xF1\xC8\xA1\xCB\xE3\xB7\xA8\xD0\xC5\xCF\xA2\xCA\xA7\xB0\xDC"
                         "AlgType=[%d]",
                         record.AlgType);
    }
    LogMessage(LOG_DEBUG, "pulContainerType[%#lx]", *pulContainerType);
    return call.Done();
}

ULONG DEVAPI SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer)})) return call.Refused();
    if (ULONG rc = DF_ImportCert(call.Container(hContainer), bSignFlag, pbCert, ulCertLen))
        return call.Fail(SAR_FAIL, "DF_ImportCert ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_CONTAINER_ARG(hContainer)})) return call.Refused();
    if (ULONG rc = DF_ExportCert(call.Container(hContainer), bSignFlag, pbCert, pulCertLen))
        return call.Fail(rc == SAR_CERTNOTFOUNTERR ? rc : SAR_FAIL, "DF_ExportCert ERR[%#lx]", rc);
    return call.Done();
}

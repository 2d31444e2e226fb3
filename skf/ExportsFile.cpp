// SKF exports of the application's files. Every failure of the device
// layer reaches the caller as SAR_FAIL.
#include "DevFile.h"
#include "ExportCall.h"
#include "Logger.h"
#include "SkfFileExports.h"

namespace {

// GBK full-width colon, as the data lines end.
constexpr char kColon[] = "\xA3\xBA";

} // namespace

ULONG DEVAPI SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                            ULONG ulWriteRights)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    if (ULONG rc = DF_CreateFile(AsDevice(hApplication), szFileName, ulFileSize, ulReadRights, ulWriteRights))
        return call.Fail(SAR_FAIL, "DF_CreateFile ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    if (ULONG rc = DF_DeleteFile(AsDevice(hApplication), szFileName))
        return call.Fail(SAR_FAIL, "DF_DeleteFile ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    if (ULONG rc = DF_EnumFiles(AsDevice(hApplication), szFileList, pulSize))
        return call.Fail(SAR_FAIL, "DF_EnumFiles ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    if (ULONG rc = DF_GetFileInfo(AsDevice(hApplication), szFileName, pFileInfo))
        return call.Fail(SAR_FAIL, "DF_GetFileInfo ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                          ULONG* pulOutLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    LogMessage(LOG_DEBUG, "pbOutData[%lu][ulOffset:%lu][ulSize:%lu]%s", pulOutLen ? *pulOutLen : 0, ulOffset, ulSize,
               kColon);
    if (ULONG rc = DF_ReadFile(AsDevice(hApplication), szFileName, ulOffset, ulSize, pbOutData, pulOutLen))
        return call.Fail(SAR_FAIL, "DF_ReadFile ERR[%#lx]", rc);
    return call.Done();
}

ULONG DEVAPI SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    LogMessage(LOG_DEBUG, "szFileName[%s]pbOutData[%lu][ulOffset:%lu]%s", szFileName ? szFileName : "", ulSize,
               ulOffset, kColon);
    if (ULONG rc = DF_WriteFile(AsDevice(hApplication), szFileName, ulOffset, pbData, ulSize))
        return call.Fail(SAR_FAIL, "DF_WriteFile ERR[%#lx]", rc);
    return call.Done();
}

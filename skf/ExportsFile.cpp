// SKF exports of the application's files. Every failure of the device
// layer reaches the caller as SAR_FAIL.
#include "DevFile.h"
#include "ExportCall.h"
#include "Logger.h"
#include "SkfFileExports.h"

namespace {

// GBK full-width colon, as the data lines end.
constexpr char kColon[] = "\xA3\xBA";

ULONG Finish(ExportCall& call, ULONG rc, const char* failure)
{
    if (rc != SAR_OK) return call.Fail(SAR_FAIL, failure, rc);
    return call.Done();
}

} // namespace

ULONG DEVAPI SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                            ULONG ulWriteRights)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    return Finish(call, DF_CreateFile(call.Device(hApplication), szFileName, ulFileSize, ulReadRights, ulWriteRights),
                  "DF_CreateFile ERR[%#lx]");
}

ULONG DEVAPI SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    return Finish(call, DF_DeleteFile(call.Device(hApplication), szFileName), "DF_DeleteFile ERR[%#lx]");
}

ULONG DEVAPI SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    return Finish(call, DF_EnumFiles(call.Device(hApplication), szFileList, pulSize), "DF_EnumFiles ERR[%#lx]");
}

ULONG DEVAPI SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    return Finish(call, DF_GetFileInfo(call.Device(hApplication), szFileName, pFileInfo), "DF_GetFileInfo ERR[%#lx]");
}

ULONG DEVAPI SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                          ULONG* pulOutLen)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    LogMessage(LOG_DEBUG, "pbOutData[%lu][ulOffset:%lu][ulSize:%lu]%s", pulOutLen ? *pulOutLen : 0, ulOffset, ulSize,
               kColon);
    return Finish(call, DF_ReadFile(call.Device(hApplication), szFileName, ulOffset, ulSize, pbOutData, pulOutLen),
                  "DF_ReadFile ERR[%#lx]");
}

ULONG DEVAPI SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbData, ULONG ulSize)
{
    ExportCall call(__func__);
    if (!call.Check({SKF_DEVICE_ARG(hApplication)})) return call.Refused();
    LogMessage(LOG_DEBUG, "szFileName[%s]pbOutData[%lu][ulOffset:%lu]%s", szFileName ? szFileName : "", ulSize,
               ulOffset, kColon);
    return Finish(call, DF_WriteFile(call.Device(hApplication), szFileName, ulOffset, pbData, ulSize),
                  "DF_WriteFile ERR[%#lx]");
}

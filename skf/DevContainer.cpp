// Device-layer container and certificate functions over the vendor's
// 273-byte container records.
#include "DeviceLayer.h"
#include "Logger.h"
#include "DeviceLibrary.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr ULONG kListEntryRoom = kMaxContainerNameLen + 1;
constexpr std::uint32_t kCertReadRoom = 2048;

std::string RecordName(const ContCtx& record)
{
    return std::string(record.conName, strnlen(record.conName, sizeof record.conName));
}

ULONG ListContainers(DevCtx* pDevCtx, std::vector<ContCtx>& records)
{
    const devicelib::UK_HANDLE device = pDevCtx->pCtx;
    ULONG rc = ListTokenRecords(
        [device](std::uint8_t* out, std::uint32_t* count) { return g_FuncList->EnumContainer(device, out, count); },
        kContainerRoom, records);
    if (rc != SAR_OK) LogMessage(LOG_ERROR, "EnumContainer ERR[%#lx]", rc);
    return rc;
}

const ContCtx* FindByName(const std::vector<ContCtx>& records, const char* szContainerName)
{
    for (const ContCtx& record : records)
        if (RecordName(record) == szContainerName) return &record;
    return nullptr;
}

// The first container of the name, in the token's order; names match
// exactly, case included.
ULONG FindContainer(DevCtx* pDevCtx, const char* szContainerName, ContCtx& found)
{
    std::vector<ContCtx> records;
    if (ULONG rc = ListContainers(pDevCtx, records)) return rc;
    if (const ContCtx* record = FindByName(records, szContainerName)) {
        found = *record;
        return SAR_OK;
    }
    LogMessage(LOG_ERROR, "Not Found the cont[%s]", szContainerName);
    return SAR_FAIL;
}

// A container of a name already listed, or past the most a listing
// holds, could never be opened or deleted again.
ULONG CheckReachable(DevCtx* pDevCtx, const char* szContainerName)
{
    std::vector<ContCtx> records;
    if (ULONG rc = ListContainers(pDevCtx, records)) return rc;
    if (FindByName(records, szContainerName)) {
        LogMessage(LOG_ERROR, "container exists[%s]", szContainerName);
        return SAR_FILE_ALREADY_EXIST;
    }
    if (records.size() >= kMaxListedRecords) {
        LogMessage(LOG_ERROR, "container count[%u] at the most", static_cast<unsigned>(records.size()));
        return SAR_NO_ROOM;
    }
    return SAR_OK;
}

ULONG CheckName(const char* szContainerName)
{
    if (!szContainerName) return DF_NULL("szContainerName", SAR_INVALIDPARAMERR);
    if (!*szContainerName) {
        LogMessage(LOG_ERROR, "ContainerName len is 0");
        return SAR_INVALIDPARAMERR;
    }
    return SAR_OK;
}

ULONG NewHandle(DevCtx* pDevCtx, const ContCtx& record, ConCtx** ppConCtx)
{
    auto* copy = new (std::nothrow) ContCtx(record);
    if (!copy) {
        LogMessage(LOG_ERROR, "malloc pukConobj err[%#lx]", GetLastError());
        return SAR_MEMORYERR;
    }
    auto* handle = new (std::nothrow) ConCtx {pDevCtx, copy, pDevCtx->hDev};
    if (!handle) {
        LogMessage(LOG_ERROR, "malloc pConCtx err[%#lx]", GetLastError());
        delete copy;
        return SAR_MEMORYERR;
    }
    *ppConCtx = handle;
    return SAR_OK;
}

// A container of the newer name replaces the older one of its kind.
void DeleteReplacedContainer(DevCtx* pDevCtx, const char* szContainerName)
{
    const std::string name = szContainerName;
    if (name == "sm2_container256") DF_DeleteContainer(pDevCtx, "sm2_container");
    if (name == "rsa_container1024" || name == "rsa_container2048") DF_DeleteContainer(pDevCtx, "rsa_container");
}

const devicelib::UK_KEY_REF& CertReference(const ContCtx& record, BOOL bSignFlag)
{
    return bSignFlag == TRUE ? record.SignCert : record.ExchCert;
}

// A DER certificate in the form 30 82 hi lo: its size from its own header.
ULONG CertificateLength(const BYTE* pbCert, ULONG ulCertLen, ULONG& len)
{
    if (!pbCert) return DF_NULL("pbCert", DF_ERR_NULL_POINTER);
    if (ulCertLen < 4 || pbCert[0] != 0x30 || pbCert[1] != 0x82) {
        LogMessage(LOG_ERROR, "cert format err[%lu]", ulCertLen);
        return SAR_INDATALENERR;
    }
    len = (pbCert[2] * 256u + pbCert[3]) + 4;
    if (len > ulCertLen) {
        LogMessage(LOG_ERROR, "cert len err[%lu][%lu]", len, ulCertLen);
        return SAR_INDATALENERR;
    }
    return SAR_OK;
}

} // namespace

ULONG CheckContainerContext(const ConCtx* pConCtx, const char* name, const char* file, int line)
{
    const std::string prefix = name;
    if (!pConCtx) return (LogNullPointer(file, line, name), DF_ERR_NULL_POINTER);
    if (!pConCtx->pContCtx) return (LogNullPointer(file, line, (prefix + "->pContCtx").c_str()), DF_ERR_NULL_POINTER);
    if (!pConCtx->pDevCtx) return (LogNullPointer(file, line, (prefix + "->pDevCtx").c_str()), DF_ERR_NULL_POINTER);
    return CheckDeviceContext(pConCtx->pDevCtx, file, line);
}

ULONG DF_CreateContainer(DevCtx* pDevCtx, const char* szContainerName, ConCtx** ppConCtx)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (ULONG rc = CheckName(szContainerName)) return rc;
    if (std::strlen(szContainerName) > kMaxContainerNameLen) {
        LogMessage(LOG_ERROR, "ContainerName too long...");
        return SAR_NAMELENERR;
    }
    // Held until the container it replaces is gone too.
    TokenHold hold;
    if (ULONG rc = HoldToken(hold, pDevCtx)) return rc;
    if (ULONG rc = CheckReachable(pDevCtx, szContainerName)) return rc;
    ContCtx record = {};
    std::strcpy(record.conName, szContainerName);
    ULONG rc = g_FuncList->CreateContainer(pDevCtx->pCtx, reinterpret_cast<std::uint8_t*>(&record));
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "CreateContainer ERR[%#lx]", rc);
        return SAR_FAIL;
    }
    // Only once the new container is there does the old one go.
    DeleteReplacedContainer(pDevCtx, szContainerName);
    return NewHandle(pDevCtx, record, ppConCtx);
}

ULONG DF_DeleteContainer(DevCtx* pDevCtx, const char* szContainerName)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (ULONG rc = CheckName(szContainerName)) return rc == SAR_INVALIDPARAMERR ? DF_ERR_NULL_POINTER : rc;
    // Another process could otherwise delete the one found and make a
    // container under its number first.
    TokenHold hold;
    if (ULONG rc = HoldToken(hold, pDevCtx)) return rc;
    ContCtx record = {};
    if (ULONG rc = FindContainer(pDevCtx, szContainerName, record)) return rc;
    ULONG rc = g_FuncList->DeleteContainer(pDevCtx->pCtx, reinterpret_cast<std::uint8_t*>(&record));
    if (rc != devicelib::UK_OK) LogMessage(LOG_ERROR, "DeleteContainer ERR[%#lx]", rc);
    return rc;
}

ULONG DF_OpenContainer(DevCtx* pDevCtx, const char* szContainerName, ConCtx** ppConCtx)
{
    if (DF_CHECK_DEVICE(pDevCtx)) return SAR_INVALIDHANDLEERR;
    if (ULONG rc = CheckName(szContainerName)) return rc;
    ContCtx record = {};
    if (FindContainer(pDevCtx, szContainerName, record)) return SAR_FAIL;
    return NewHandle(pDevCtx, record, ppConCtx);
}

void DF_CloseContainer(ConCtx* pConCtx)
{
    delete pConCtx->pContCtx;
    delete pConCtx;
}

// Names listed one after the other, each with its NUL, then a closing NUL.
// Room asked for is 129 bytes a container, or more when the token holds
// longer names than this library creates.
ULONG DF_EnumContainer(DevCtx* pDevCtx, char* szContainerName, ULONG* pulSize)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!pulSize) return DF_NULL("pulSize", DF_ERR_NULL_POINTER);
    std::vector<ContCtx> records;
    if (ULONG rc = ListContainers(pDevCtx, records)) return rc;
    ULONG count = static_cast<ULONG>(records.size());
    LogMessage(LOG_DEBUG, "container count[%lu]", count);
    std::string list;
    for (const ContCtx& record : records) list += RecordName(record) + '\0';
    list += '\0';
    if (records.empty()) list += '\0';
    ULONG needed = std::max<ULONG>(count * kListEntryRoom + 2, static_cast<ULONG>(list.size()));
    if (!szContainerName) {
        *pulSize = needed;
        return SAR_OK;
    }
    if (*pulSize < needed) {
        LogMessage(LOG_ERROR, "Data len too short...");
        return SAR_INDATALENERR;
    }
    std::memcpy(szContainerName, list.data(), list.size());
    *pulSize = static_cast<ULONG>(list.size());
    LogHexData(list.data(), *pulSize);
    return SAR_OK;
}

ULONG DF_ImportCert(ConCtx* pConCtx, BOOL bSignFlag, const BYTE* pbCert, ULONG ulCertLen)
{
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    ULONG len = 0;
    if (ULONG rc = CertificateLength(pbCert, ulCertLen, len)) return rc;
    LogMessage(LOG_DEBUG, "pbCert[%lu]:", len);
    LogHexData(pbCert, len);
    const devicelib::UK_KEY_REF& ref = CertReference(*pConCtx->pContCtx, bSignFlag);
    ULONG rc = g_FuncList->WriteCert(pConCtx->pDevCtx->pCtx, &ref, pbCert, len);
    if (rc != devicelib::UK_OK) LogMessage(LOG_ERROR, "WriteCert ERR[%#lx]", rc);
    return rc;
}

// The certificate asked for, never the other one in its place. RSA
// certificates go out with two NULs appended.
ULONG DF_ExportCert(ConCtx* pConCtx, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen)
{
    LogMessage(LOG_DEBUG, "%s start...", __func__);
    if (ULONG rc = DF_CHECK_CONTAINER(pConCtx)) return rc;
    if (!pulCertLen) return DF_NULL("pulCertLen", DF_ERR_NULL_POINTER);
    const ContCtx& record = *pConCtx->pContCtx;
    std::vector<BYTE> cert(kCertReadRoom);
    std::uint32_t len = kCertReadRoom;
    devicelib::UK_HANDLE device = pConCtx->pDevCtx->pCtx;
    ULONG rc = g_FuncList->ReadCert(device, &CertReference(record, bSignFlag), cert.data(), &len);
    if (rc != devicelib::UK_OK && rc != devicelib::UK_SW_FILE_NOT_FOUND) {
        LogMessage(LOG_ERROR, "ReadCert ERR[%#lx]", rc);
        return rc;
    }
    if (rc == devicelib::UK_SW_FILE_NOT_FOUND || len == 0) {
        LogMessage(LOG_ERROR, "No Cert can read...");
        return SAR_CERTNOTFOUNTERR;
    }
    len = std::min<std::uint32_t>(len, kCertReadRoom);
    const bool rsa = record.AlgType == devicelib::UK_ALG_RSA;
    const ULONG needed = len + (rsa ? 2 : 0);
    if (!pbCert) {
        *pulCertLen = needed;
        return SAR_OK;
    }
    if (*pulCertLen < needed) {
        LogMessage(LOG_ERROR, "cert buffer too small...");
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(pbCert, cert.data(), len);
    if (rsa) pbCert[len] = pbCert[len + 1] = 0;
    *pulCertLen = needed;
    LogMessage(LOG_DEBUG, rsa ? "Export RSA pbCert[%lu]:" : "Export SM2 pbCert[%lu]:", needed);
    LogHexData(pbCert, needed);
    return SAR_OK;
}

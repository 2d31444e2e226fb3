// Device-layer file functions over the vendor's 264-byte data-object
// records. Creating and writing log in again with the kept user PIN.
#include "DevFile.h"

#include "DeviceLayer.h"
#include "KeptPins.h"
#include "Logger.h"
#include "DeviceLibrary.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kRecordNameRoom = devicelib::UK_DATAOBJ_RECORD_LEN - devicelib::dataobj::kName;

struct DataObjRecord {
    std::uint8_t bytes[devicelib::UK_DATAOBJ_RECORD_LEN];

    std::string Name() const
    {
        const char* name = reinterpret_cast<const char*>(bytes + devicelib::dataobj::kName);
        return std::string(name, strnlen(name, kRecordNameRoom));
    }
    ULONG Size() const
    {
        return (ULONG {bytes[devicelib::dataobj::kSize]} << 8) | bytes[devicelib::dataobj::kSize + 1];
    }
};

static_assert(sizeof(DataObjRecord) == devicelib::UK_DATAOBJ_RECORD_LEN, "data-object record size");

// A zeroed record naming the file.
DataObjRecord RecordFor(const char* szFileName)
{
    DataObjRecord record {};
    std::memcpy(record.bytes + devicelib::dataobj::kName, szFileName, std::strlen(szFileName));
    return record;
}

// Names are checked before the token is asked: present, not empty, and no
// longer than the file information's name field.
ULONG CheckFileName(const char* szFileName)
{
    if (!szFileName) return DF_NULL("szFileName", DF_ERR_NULL_POINTER);
    std::size_t len = strnlen(szFileName, kMaxFileNameLen + 1);
    if (len == 0 || len > kMaxFileNameLen) {
        LogMessage(LOG_ERROR, "szFileName len err[%u]", static_cast<unsigned>(len));
        return SAR_NAMELENERR;
    }
    return SAR_OK;
}

// Only a PIN this device context presented and the token accepted is used;
// without one the token is not asked, so no try is spent. The PIN is used
// from a copy, as a verification on another thread may rewrite it.
ULONG LoginUser(DevCtx* pDevCtx)
{
    char pin[kKeptPinRoom];
    const std::size_t len = CopyUserPin(pDevCtx->pins, pin);
    ULONG rc = SAR_PIN_INVALID;
    if (len == 0) {
        LogMessage(LOG_ERROR, "no user PIN verified......\n");
    } else {
        rc = g_FuncList->Login(pDevCtx->pCtx, devicelib::UK_PIN_USER, devicelib::UK_PIN_USER,
                               reinterpret_cast<const std::uint8_t*>(pin), static_cast<std::uint32_t>(len));
        if (rc != devicelib::UK_OK) {
            LogMessage(LOG_ERROR, "g_FuncList[0]->Login ERR:[%#lx]......\n", rc);
            // A PIN the token no longer takes would spend a try at every change.
            if (devicelib::IsWrongPin(rc) || rc == devicelib::UK_SW_PIN_BLOCKED)
                ForgetUserPinIfKept(pDevCtx->pins, pin);
        }
    }
    SecureZeroMemory(pin, sizeof pin);
    return rc == devicelib::UK_OK ? SAR_OK : SAR_PIN_INVALID;
}

ULONG ListFiles(DevCtx* pDevCtx, std::vector<DataObjRecord>& records)
{
    const devicelib::UK_HANDLE device = pDevCtx->pCtx;
    ULONG rc = ListTokenRecords(
        [device](std::uint8_t* out, std::uint32_t* count) { return g_FuncList->EnumDataObj(device, out, count); },
        kFileRoom, records);
    if (rc == SAR_OK) return SAR_OK;
    LogMessage(LOG_ERROR, "g_FuncList[0]->EnumDataObj ERR:[%#lx]......\n", rc);
    return SAR_FAIL;
}

const DataObjRecord* FindFile(const std::vector<DataObjRecord>& records, const char* szFileName)
{
    for (const DataObjRecord& record : records)
        if (record.Name() == szFileName) return &record;
    return nullptr;
}

ULONG NotFoundOrFail(ULONG rc)
{
    return rc == devicelib::UK_SW_FILE_NOT_FOUND ? SAR_FILE_NOT_EXIST : SAR_FAIL;
}

// The whole file into data; its length in len.
ULONG ReadWholeFile(DevCtx* pDevCtx, const DataObjRecord& record, std::vector<BYTE>& data, ULONG& len)
{
    data.assign(kMaxFileSize, 0);
    std::uint32_t got = kMaxFileSize;
    ULONG rc = g_FuncList->ReadDataObj(pDevCtx->pCtx, record.bytes, kDataObjFlags, data.data(), &got);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "g_FuncList[0]->ReadDataObj ERR:[%#lx]......\n", rc);
        return NotFoundOrFail(rc);
    }
    if (got > kMaxFileSize) {
        LogMessage(LOG_ERROR, "ReadDataObj len err[%u]", got);
        return SAR_FAIL;
    }
    len = got;
    return SAR_OK;
}

ULONG WriteWholeFile(DevCtx* pDevCtx, const DataObjRecord& record, const BYTE* data, ULONG len)
{
    ULONG rc = g_FuncList->WriteDataObj(pDevCtx->pCtx, record.bytes, kDataObjFlags, data, len);
    if (rc == devicelib::UK_OK) return SAR_OK;
    LogMessage(LOG_ERROR, "g_FuncList[0]->WriteDataObj ERR:[%#lx]......\n", rc);
    return SAR_FAIL;
}

} // namespace

ULONG DF_CreateFile(DevCtx* pDevCtx, const char* szFileName, ULONG ulFileSize, ULONG ulReadRights, ULONG ulWriteRights)
{
    LogMessage(LOG_DEBUG, "%s start...", __func__);
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (ULONG rc = CheckFileName(szFileName)) return rc;
    LogMessage(LOG_DEBUG, "szFileName[%s], ulFileSize[%lu], ulReadRights[%lu], ulWriteRights[%lu]", szFileName,
               ulFileSize, ulReadRights, ulWriteRights);
    if (ulFileSize > kMaxFileSize) {
        LogMessage(LOG_ERROR, "ulFileSize err[%lu]", ulFileSize);
        return SAR_INDATALENERR;
    }
    if (ULONG rc = LoginUser(pDevCtx)) return rc;
    // Held until the file is filled: a write of another process to the
    // new file would otherwise be undone by the zeros.
    TokenHold hold;
    if (ULONG rc = HoldToken(hold, pDevCtx)) return rc;
    std::vector<DataObjRecord> records;
    if (ULONG rc = ListFiles(pDevCtx, records)) return rc;
    if (FindFile(records, szFileName)) {
        LogMessage(LOG_ERROR, "SAR_FILE_ALREADY_EXIST %s\n", szFileName);
        return SAR_FILE_ALREADY_EXIST;
    }
    // A file past the most a listing holds could never be written.
    if (records.size() >= kMaxListedRecords) {
        LogMessage(LOG_ERROR, "file count[%u] at the most", static_cast<unsigned>(records.size()));
        return SAR_NO_ROOM;
    }
    DataObjRecord record = RecordFor(szFileName);
    ULONG rc = g_FuncList->CreateDataObj(pDevCtx->pCtx, record.bytes);
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "g_FuncList[0]->CreateDataObj ERR:[%#lx]......\n", rc);
        return SAR_FAIL;
    }
    // A file left without its size could never be written nor made again
    // under its name: one that cannot be filled goes again.
    std::vector<BYTE> zeros(ulFileSize, 0);
    rc = WriteWholeFile(pDevCtx, record, zeros.data(), ulFileSize);
    if (rc != SAR_OK) {
        ULONG undone = g_FuncList->DeleteDataObj(pDevCtx->pCtx, record.bytes);
        if (undone != devicelib::UK_OK)
            LogMessage(LOG_ERROR, "g_FuncList[0]->DeleteDataObj ERR:[%#lx]......\n", undone);
    }
    return rc;
}

ULONG DF_DeleteFile(DevCtx* pDevCtx, const char* szFileName)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (ULONG rc = CheckFileName(szFileName)) return rc;
    TokenHold hold;
    if (ULONG rc = HoldToken(hold, pDevCtx)) return rc;
    DataObjRecord record = RecordFor(szFileName);
    ULONG rc = g_FuncList->DeleteDataObj(pDevCtx->pCtx, record.bytes);
    if (rc == devicelib::UK_OK) return SAR_OK;
    LogMessage(LOG_ERROR, "g_FuncList[0]->DeleteDataObj ERR:[%#lx]......\n", rc);
    return NotFoundOrFail(rc);
}

ULONG DF_EnumFiles(DevCtx* pDevCtx, char* szFileList, ULONG* pulSize)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (!pulSize) return DF_NULL("pulSize", DF_ERR_NULL_POINTER);
    std::vector<DataObjRecord> records;
    if (ULONG rc = ListFiles(pDevCtx, records)) return rc;
    std::string list;
    for (const DataObjRecord& record : records) {
        list += record.Name();
        list += '\0';
    }
    list += '\0';
    ULONG size = static_cast<ULONG>(list.size());
    if (!szFileList) {
        *pulSize = size;
        return SAR_OK;
    }
    ULONG room = *pulSize;
    *pulSize = size;
    if (room < size) {
        LogMessage(LOG_ERROR, "szFileList too short[%lu][%lu]", room, size);
        return SAR_NO_ROOM;
    }
    std::memcpy(szFileList, list.data(), size);
    return SAR_OK;
}

ULONG DF_GetFileInfo(DevCtx* pDevCtx, const char* szFileName, FILEATTRIBUTE* pFileInfo)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (ULONG rc = CheckFileName(szFileName)) return rc;
    if (!pFileInfo) return DF_NULL("pFileInfo", DF_ERR_NULL_POINTER);
    std::vector<DataObjRecord> records;
    if (ULONG rc = ListFiles(pDevCtx, records)) return rc;
    const DataObjRecord* found = FindFile(records, szFileName);
    if (!found) {
        LogMessage(LOG_ERROR, "%s NO FILE\n", szFileName);
        return SAR_FILE_NOT_EXIST;
    }
    std::memset(pFileInfo->FileName, 0, sizeof pFileInfo->FileName);
    std::string name = found->Name();
    std::memcpy(pFileInfo->FileName, name.data(), std::min(name.size(), sizeof pFileInfo->FileName));
    pFileInfo->FileSize = found->Size();
    pFileInfo->ReadRights = SECURE_EVERYONE_ACCOUNT;
    pFileInfo->WriteRights = SECURE_USER_ACCOUNT;
    return SAR_OK;
}

// The length reported is the count of bytes copied.
ULONG DF_ReadFile(DevCtx* pDevCtx, const char* szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                  ULONG* pulOutLen)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (ULONG rc = CheckFileName(szFileName)) return rc;
    if (!pulOutLen) return DF_NULL("pulOutLen", DF_ERR_NULL_POINTER);
    std::vector<BYTE> data;
    ULONG length = 0;
    if (ULONG rc = ReadWholeFile(pDevCtx, RecordFor(szFileName), data, length)) return rc;
    if (ulOffset > length) {
        LogMessage(LOG_ERROR, "ulOffset err[%lu][%lu]", ulOffset, length);
        return SAR_INDATALENERR;
    }
    ULONG count = std::min(ulSize, length - ulOffset);
    if (pbOutData && *pulOutLen < count) {
        *pulOutLen = count;
        LogMessage(LOG_ERROR, "Data Len Too small......\n");
        return SAR_BUFFER_TOO_SMALL;
    }
    *pulOutLen = count;
    if (!pbOutData) return SAR_OK;
    std::memcpy(pbOutData, data.data() + ulOffset, count);
    // File contents stay out of the log.
    LogMessage(LOG_DEBUG, "pbOutData[%lu]", count);
    return SAR_OK;
}

// Files keep their size: the data must fit within it. The token is held
// from the read to the write back, so that no other writer's bytes are
// put back as they were.
ULONG DF_WriteFile(DevCtx* pDevCtx, const char* szFileName, ULONG ulOffset, const BYTE* pbData, ULONG ulSize)
{
    if (ULONG rc = DF_CHECK_DEVICE(pDevCtx)) return rc;
    if (ULONG rc = CheckFileName(szFileName)) return rc;
    if (!pbData && ulSize) return DF_NULL("pbData", DF_ERR_NULL_POINTER);
    if (ULONG rc = LoginUser(pDevCtx)) return rc;
    TokenHold hold;
    if (ULONG rc = HoldToken(hold, pDevCtx)) return rc;
    std::vector<DataObjRecord> records;
    if (ULONG rc = ListFiles(pDevCtx, records)) return rc;
    const DataObjRecord* found = FindFile(records, szFileName);
    if (!found) {
        LogMessage(LOG_ERROR, "SAR_FILE_NOT_EXIST-%s\n", szFileName);
        return SAR_FILE_NOT_EXIST;
    }
    std::vector<BYTE> data;
    ULONG length = 0;
    if (ULONG rc = ReadWholeFile(pDevCtx, *found, data, length)) return rc;
    if (std::uint64_t {length} < std::uint64_t {ulOffset} + ulSize) {
        LogMessage(LOG_ERROR, "Write file is too ig.... \n");
        return SAR_NO_ROOM;
    }
    if (ulSize) std::memcpy(data.data() + ulOffset, pbData, ulSize);
    return WriteWholeFile(pDevCtx, *found, data.data(), length);
}

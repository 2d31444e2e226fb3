#include "AlgorithmTable.h"

#include <cstring>

const AlgorithmEntry kAlgorithms[kAlgorithmCount] = {
    {0x6801, "RC4", "RC4", 128, 40, 128},
    {0x6601, "DES", "DES", 56, 56, 56},
    {0x6603, "3DES", "3DES", 168, 168, 168},
    {0x6609, "3DES_112", "3DES_112", 168, 168, 168},
    {0x8003, "MD5", "MD5", 128, 128, 128},
    {0x8004, "SHA1", "SHA1", 160, 160, 160},
    {0x800C, "SHA256", "SHA-256", 256, 256, 256},
    {0x8008, "SSL3 SHAMD5", "SSL3 SHAMD5", 288, 288, 288},
    {0xA400, "RSA_KEYX", "RSA_KEYX", 1024, 1024, 2048},
    {0x2400, "RSA_SIGN", "RSA_SIGN", 1024, 1024, 2048},
    {0x6611, "AES", "AES", 128, 128, 128},
    {0x660E, "AES_128", "AES_128", 128, 128, 128},
    {0x660F, "AES_192", "AES_192", 192, 192, 192},
    {0x6610, "AES_256", "AES_256", 256, 256, 256},
    {0xBE00, "SM2_KEYX", "SM2_KEYX", 256, 256, 256},
    {0x3E00, "SM2_SIGN", "SM2_SIGN", 256, 256, 256},
    {0x800F, "SM3", "SM3", 256, 256, 256},
};

namespace {

// Copies a name with its zero and returns the length counted that way.
DWORD CopyName(const char* name, CHAR* field, std::size_t room)
{
    std::size_t length = std::strlen(name) + 1;
    if (length > room) length = room;
    std::memcpy(field, name, length);
    field[length - 1] = '\0';
    return static_cast<DWORD>(length);
}

// Clears the record and fills what both record kinds hold; null past the
// table's end.
template <class Record>
const AlgorithmEntry* FillCommon(std::uint32_t index, Record* record)
{
    if (index >= kAlgorithmCount) return nullptr;
    const AlgorithmEntry& entry = kAlgorithms[index];
    std::memset(record, 0, sizeof *record);
    record->aiAlgid = entry.algId;
    record->dwNameLen = CopyName(entry.name, record->szName, sizeof record->szName);
    return &entry;
}

} // namespace

bool FillEnumAlgs(std::uint32_t index, PROV_ENUMALGS* record)
{
    const AlgorithmEntry* entry = FillCommon(index, record);
    if (entry == nullptr) return false;
    record->dwBitLen = entry->defaultBits;
    return true;
}

bool FillEnumAlgsEx(std::uint32_t index, PROV_ENUMALGS_EX* record)
{
    const AlgorithmEntry* entry = FillCommon(index, record);
    if (entry == nullptr) return false;
    record->dwDefaultLen = entry->defaultBits;
    record->dwMinLen = entry->minBits;
    record->dwMaxLen = entry->maxBits;
    record->dwProtocols = kAllProtocols;
    record->dwLongNameLen = CopyName(entry->longName, record->szLongName, sizeof record->szLongName);
    return true;
}

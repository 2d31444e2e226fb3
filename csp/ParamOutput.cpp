#include "ParamOutput.h"

#include <wincrypt.h>

#include <cstring>

DWORD ReturnData(const void* source, DWORD size, BYTE* data, DWORD* dataLen)
{
    if (!data) {
        *dataLen = size;
        return 0;
    }
    if (*dataLen < size) {
        *dataLen = size;
        return static_cast<DWORD>(NTE_BUFFER_TOO_SMALL);
    }
    std::memcpy(data, source, size);
    *dataLen = size;
    return 0;
}

DWORD ReturnWord(DWORD value, BYTE* data, DWORD* dataLen)
{
    return ReturnData(&value, sizeof value, data, dataLen);
}

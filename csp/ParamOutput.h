// Answers of the parameter queries: a null buffer asks for the size, a
// short one gets NTE_BUFFER_TOO_SMALL and the size.
#pragma once

#include <windows.h>

DWORD ReturnData(const void* source, DWORD size, BYTE* data, DWORD* dataLen);
DWORD ReturnWord(DWORD value, BYTE* data, DWORD* dataLen);

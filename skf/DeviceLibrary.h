// The vendor device library, bound once when the library is attached.
#pragma once

#include "DeviceTable.h"

#include <windows.h>

extern devicelib::UK_FUNCTION_LIST* g_FuncList;
extern HMODULE g_hVendorLibrary;

void LoadDeviceLibrary();
void UnloadDeviceLibrary();

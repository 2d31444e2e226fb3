#include "DeviceLibrary.h"

#include "Logger.h"
#include "DeviceBinding.h"

devicelib::UK_FUNCTION_LIST* g_FuncList;
HMODULE g_hVendorLibrary;

void LoadDeviceLibrary()
{
    if (devicelib::BindLibrary(&g_hVendorLibrary, &g_FuncList)) return;
    DWORD error = GetLastError();
    // GBK: cannot load the dynamic library
    if (error != 0)
        LogMessage(LOG_ERROR, "\xCE\xDE\xB7\xA8\xBC\xD3\xD4\xD8\xB6\xAF\xCC\xAC\xBF\xE2[%s] err[%#x]",
                   devicelib::kLibraryName, static_cast<unsigned>(error));
}

void UnloadDeviceLibrary()
{
    devicelib::UnbindLibrary(&g_hVendorLibrary, &g_FuncList);
}

#include "VendorBinding.h"

#include "Logger.h"

vendor::UK_FUNCTION_LIST* g_FuncList;
HMODULE g_hVendorLibrary;

void LoadDeviceLibrary()
{
    g_hVendorLibrary = LoadLibraryA(vendor::kLibraryName);
    if (!g_hVendorLibrary) {
        // GBK: cannot load the dynamic library
        LogMessage(LOG_ERROR, "\xCE\xDE\xB7\xA8\xBC\xD3\xD4\xD8\xB6\xAF\xCC\xAC\xBF\xE2[%s] err[%#x]", vendor::kLibraryName,
                   static_cast<unsigned>(GetLastError()));
        return;
    }
    g_FuncList = vendor::BindFunctionList(g_hVendorLibrary);
    if (!g_FuncList) {
        FreeLibrary(g_hVendorLibrary);
        g_hVendorLibrary = nullptr;
    }
}

void UnloadDeviceLibrary()
{
    if (g_FuncList) g_FuncList->Finalize(nullptr);
    g_FuncList = nullptr;
    if (g_hVendorLibrary) FreeLibrary(g_hVendorLibrary);
    g_hVendorLibrary = nullptr;
}

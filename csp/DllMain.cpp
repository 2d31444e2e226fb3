#include "DebugLog.h"
#include "ModuleState.h"
#include "ObjectLists.h"
#include "PinCache.h"
#include "RemovalWatch.h"
#include "TokenAccess.h"

#include <objbase.h>

#include <cstring>

HMODULE g_hModule;
CRITICAL_SECTION ProviderLock;
volatile LONG SigningInProgress;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    // The loader runs this inside CryptoAPI calls (Wine unloads the
    // provider after the last release and after a failed first acquire):
    // the caller's last error must come out as it went in.
    DWORD lastError = GetLastError();
    if (reason == DLL_PROCESS_ATTACH) {
        g_hModule = instance;
        std::strcpy(LogFilePath, kDefaultLogFilePath);
        InitializeCriticalSection(&ProviderLock);
        InitializeCriticalSection(&PinCacheLock);
        LoadDeviceLibrary();
        CoInitialize(nullptr);
    } else if (reason == DLL_PROCESS_DETACH) {
        StopRemovalWatch();
        CoUninitialize();
        FreeAllObjects();
        FreeDeviceLibrary();
        DeleteCriticalSection(&PinCacheLock);
        DeleteCriticalSection(&ProviderLock);
    }
    SetLastError(lastError);
    return TRUE;
}

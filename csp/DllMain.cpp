#include "DebugLog.h"
#include "DelayLoads.h"
#include "MessageTable.h"
#include "ModuleState.h"
#include "ObjectLists.h"
#include "PinCache.h"
#include "RemovalWatch.h"
#include "ThreadRecords.h"
#include "TokenAccess.h"

#include <cstring>

HMODULE g_hModule;
CRITICAL_SECTION ProviderLock;
volatile LONG SigningInProgress;

namespace {

// FreeLibrary: the module goes while the process goes on. Nothing here
// may wait for another thread under the loader lock: the watch is only
// posted to.
void DetachFromLiveProcess()
{
    StopRemovalWatch();
    FreeAllObjects();
    FreeDeviceLibrary();
    PinCache_Wipe();
    DeleteCriticalSection(&PinCacheLock);
    DeleteCriticalSection(&ProviderLock);
    FreeMessageTable();
    ReleaseDelayLoads();
    devicelib::ReleaseRuntimeRecords();
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
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
        TrackDelayLoads();
        devicelib::DropLoaderThreadRecord(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        // At process termination the other threads are already gone, with
        // whatever locks they held: only the PINs are wiped.
        if (reserved)
            PinCache_Wipe();
        else
            DetachFromLiveProcess();
    }
    SetLastError(lastError);
    return TRUE;
}

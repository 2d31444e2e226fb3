// Start-up and shut-down: the configuration beside the library, the
// logger's settings and the vendor binding.
#include "DevMonitor.h"
#include "DeviceLibrary.h"
#include "Handles.h"
#include "Logger.h"
#include "ThreadRecords.h"

#include <windows.h>

#include <cstring>

HMODULE g_hModule;

namespace {

void ReadConfiguration(HMODULE module)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    char* slash = std::strrchr(path, '\\');
    if (slash)
        *slash = '\0';
    else
        path[0] = '\0';
    std::strncat(path, "\\config.ini", sizeof path - std::strlen(path) - 1);
    LogLevel = static_cast<std::int32_t>(GetPrivateProfileIntA("exe_config", "loglevel", 5, path));
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_hModule = module;
        ReadConfiguration(module);
        LogLinePrefix = "LORVIN_GM";
        LogPathPrefix = "C:\\keltosoft\\LORVIN_VUVID";
        LoadDeviceLibrary();
        devicelib::DropLoaderThreadRecord(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        StopDevMonitorAtDetach();
        UnloadDeviceLibrary();
        // FreeLibrary: the process goes on, and an application may load
        // the library again and again.
        if (!reserved) {
            ReleaseHandleRanges();
            devicelib::ReleaseRuntimeRecords();
        }
    }
    return TRUE;
}

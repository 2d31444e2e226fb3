// Start-up and shut-down: the configuration beside the library, the
// logger's settings and the vendor binding.
#include "DevMonitor.h"
#include "Logger.h"
#include "DeviceLibrary.h"

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

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_hModule = module;
        ReadConfiguration(module);
        LogLinePrefix = "LORVIN_GM";
        LogPathPrefix = "C:\\keltosoft\\LORVIN_VUVID";
        LoadDeviceLibrary();
    } else if (reason == DLL_PROCESS_DETACH) {
        StopDevMonitorAtDetach();
        UnloadDeviceLibrary();
    }
    return TRUE;
}

// Stands for a hook library that someone planted in a signing process's
// current directory: it only tells that it was loaded.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableW(L"SIGWELL_PLANTED_LOADED", L"1");
    return TRUE;
}

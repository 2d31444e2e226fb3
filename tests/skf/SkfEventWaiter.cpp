// SkfEventWaiter: waits for a device event through KeltoSKF on a second
// thread and ends the process while that wait is pending, so the library
// stops its monitor at process detach. Exit code 0 when the wait was
// under way.
#include "SkfDevEventExports.h"

#include <windows.h>

#include <cstring>

namespace {

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid != GetCurrentProcessId() || std::strcmp(cls, "#32770") != 0) return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

decltype(&SKF_WaitForDevEvent) g_wait;

DWORD WINAPI Waiter(LPVOID)
{
    char name[260];
    ULONG len = sizeof name, event = 0;
    g_wait(name, &len, &event);
    return 0;
}

}  // namespace

int main()
{
    HMODULE skf = LoadLibraryW(L"KeltoSKF.dll");
    if (!skf) return 3;
    g_wait = reinterpret_cast<decltype(g_wait)>(reinterpret_cast<void*>(GetProcAddress(skf, "SKF_WaitForDevEvent")));
    if (!g_wait) return 4;
    HANDLE thread = CreateThread(nullptr, 0, Waiter, nullptr, 0, nullptr);
    if (!thread) return 5;
    CloseHandle(thread);
    for (int i = 0; i < 100; ++i) {
        bool found = false;
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&found));
        if (found) return 0;
        Sleep(50);
    }
    return 6;
}

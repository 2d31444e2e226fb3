// SkfEventWaiter: waits for a device event through KeltoSKF on a second
// thread and ends the process while that wait is pending, so the library
// stops its monitor at process detach. With a count of rounds it loads the
// library, starts a wait and frees the library that many times, cancelling
// each wait first when asked. Exit code 0 when every wait was under way.
#include "MonitorWindow.h"
#include "SkfDevEventExports.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

decltype(&SKF_WaitForDevEvent) g_wait;

bool MonitorWindowShows()
{
    return skftest::FindMonitorWindow() != nullptr;
}

DWORD WINAPI Waiter(LPVOID)
{
    char name[260];
    ULONG len = sizeof name, event = 0;
    g_wait(name, &len, &event);
    return 0;
}

// One load, wait and free.
int Round(bool cancelFirst)
{
    HMODULE skf = LoadLibraryW(L"KeltoSKF.dll");
    if (!skf) return 3;
    g_wait = reinterpret_cast<decltype(g_wait)>(reinterpret_cast<void*>(GetProcAddress(skf, "SKF_WaitForDevEvent")));
    auto cancel = reinterpret_cast<decltype(&SKF_CancelWaitForDevEvent)>(
        reinterpret_cast<void*>(GetProcAddress(skf, "SKF_CancelWaitForDevEvent")));
    if (!g_wait || !cancel) return 4;
    HANDLE thread = CreateThread(nullptr, 0, Waiter, nullptr, 0, nullptr);
    if (!thread) return 5;
    int result = MonitorWindowShows() ? 0 : 6;
    if (result == 0 && cancelFirst) {
        cancel();
        if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) result = 7;
    }
    if (result == 0 || result == 7) FreeLibrary(skf);
    // A wait still under way keeps the library loaded, and keeps waiting.
    if (result == 0 && !cancelFirst && !GetModuleHandleW(L"KeltoSKF.dll")) result = 8;
    if (result == 0 && !cancelFirst && WaitForSingleObject(thread, 0) != WAIT_TIMEOUT) result = 9;
    CloseHandle(thread);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        HMODULE skf = LoadLibraryW(L"KeltoSKF.dll");
        if (!skf) return 3;
        g_wait =
            reinterpret_cast<decltype(g_wait)>(reinterpret_cast<void*>(GetProcAddress(skf, "SKF_WaitForDevEvent")));
        if (!g_wait) return 4;
        HANDLE thread = CreateThread(nullptr, 0, Waiter, nullptr, 0, nullptr);
        if (!thread) return 5;
        CloseHandle(thread);
        return MonitorWindowShows() ? 0 : 6;
    }
    const int rounds = std::atoi(argv[1]);
    const bool cancelFirst = argc > 2 && std::strcmp(argv[2], "cancel") == 0;
    for (int i = 0; i < rounds; ++i)
        if (int rc = Round(cancelFirst)) return rc;
    return 0;
}

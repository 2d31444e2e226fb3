// Finds the hidden window of the library's device monitor in this process.
#pragma once

#include <windows.h>

#include <cstring>

namespace skftest {

inline BOOL CALLBACK TakeMonitorWindow(HWND window, LPARAM found)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid != GetCurrentProcessId() || std::strcmp(cls, "#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The monitor starts on its own thread: polls for up to five seconds.
inline HWND FindMonitorWindow()
{
    for (int i = 0; i < 100; ++i) {
        HWND found = nullptr;
        EnumWindows(TakeMonitorWindow, reinterpret_cast<LPARAM>(&found));
        if (found) return found;
        Sleep(50);
    }
    return nullptr;
}

} // namespace skftest

// A background thread whose hidden window hears of removed devices and
// forgets the cached PIN of a token that is gone.
#pragma once

#include <windows.h>

// Null until the watch thread has made its window, and again once the
// window is destroyed.
extern HWND volatile g_RemovalWatchWindow;

DWORD WINAPI RemovalWatchThread(LPVOID);
INT_PTR CALLBACK RemovalWatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts the thread unless one is running.
void StartRemovalWatch();
// Asks the watch window to close; returns at once.
void StopRemovalWatch();

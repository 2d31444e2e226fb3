#include "RemovalWatch.h"

#include "ModuleHandle.h"
#include "PinCache.h"
#include "resource.h"

#include <dbt.h>
#include <initguid.h>

namespace {

// The interface class whose arrivals and removals the token's reader
// reports.
DEFINE_GUID(kCdromInterfaceClass, 0x53F56308, 0xB6BF, 0x11D0, 0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B);

void RegisterRemovalNotification(HWND window)
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kCdromInterfaceClass;
    RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void OnDeviceChange(WPARAM event, LPARAM data)
{
    auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (event != DBT_DEVICEREMOVECOMPLETE || !header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    PinCache_ClearByName(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name);
}

} // namespace

HWND volatile g_RemovalWatchWindow;

namespace {

// 1 from the start of a watch thread to its end: one watch at a time,
// started again once it has ended. A watch that could not make its window
// leaves it at 1, so that no later acquisition pays for another try.
volatile LONG g_watchRunning;

} // namespace

INT_PTR CALLBACK RemovalWatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        break;
    case WM_DESTROY:
        g_RemovalWatchWindow = nullptr;
        PostQuitMessage(0);
        break;
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        break;
    default:
        break;
    }
    return 0;
}

DWORD WINAPI RemovalWatchThread(LPVOID)
{
    HWND window =
        CreateDialogParamW(CspModuleHandle(), MAKEINTRESOURCEW(IDD_REMOVAL_WATCH), nullptr, RemovalWatchProc, 0);
    g_RemovalWatchWindow = window;
    if (!window) return 1;
    ShowWindow(window, SW_HIDE);
    RegisterRemovalNotification(window);
    // Only the window's own end stops the loop: a stray WM_NULL would leave
    // a window that no one serves.
    MSG msg;
    for (;;) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) break;
        if (got == -1) continue;
        TranslateAcceleratorW(msg.hwnd, nullptr, &msg);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

namespace {

// The thread keeps the module loaded while it runs: CryptoAPI unloads the
// provider after the last release, and the thread's code must outlive it.
DWORD WINAPI PinnedWatchThread(LPVOID module)
{
    DWORD result = RemovalWatchThread(nullptr);
    if (result == 0) InterlockedExchange(&g_watchRunning, 0);
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), result);
}

} // namespace

void StartRemovalWatch()
{
    // The flag, not the window, says whether a watch runs: the window
    // comes only once the new thread has made it.
    if (InterlockedCompareExchange(&g_watchRunning, 1, 0) != 0) return;
    HMODULE module = nullptr;
    HANDLE thread = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&StartRemovalWatch),
                           &module))
        thread = CreateThread(nullptr, 0, PinnedWatchThread, module, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
        return;
    }
    if (module) FreeLibrary(module);
    InterlockedExchange(&g_watchRunning, 0);
}

void StopRemovalWatch()
{
    // Posted, never sent: the caller may hold the loader lock, which the
    // watch thread needs to end.
    if (HWND window = g_RemovalWatchWindow) PostMessageW(window, WM_CLOSE, 0, 0);
}

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
    if (event != DBT_DEVICEREMOVECOMPLETE || !header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return;
    PinCache_ClearByName(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name);
}

}  // namespace

HWND volatile g_RemovalWatchWindow;

INT_PTR CALLBACK RemovalWatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        PostQuitMessage(0);
        break;
    case WM_DESTROY: g_RemovalWatchWindow = nullptr; break;
    case WM_DEVICECHANGE: OnDeviceChange(wParam, lParam); break;
    default: break;
    }
    return 0;
}

DWORD WINAPI RemovalWatchThread(LPVOID)
{
    HWND window = CreateDialogParamW(CspModuleHandle(), MAKEINTRESOURCEW(IDD_REMOVAL_WATCH), nullptr,
                                     RemovalWatchProc, 0);
    g_RemovalWatchWindow = window;
    if (!window) return 1;
    ShowWindow(window, SW_HIDE);
    RegisterRemovalNotification(window);
    MSG msg;
    for (;;) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || (msg.message == WM_NULL && msg.hwnd == window)) break;
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
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), result);
}

}  // namespace

void StartRemovalWatch()
{
    if (g_RemovalWatchWindow) return;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&StartRemovalWatch),
                            &module))
        return;
    HANDLE thread = CreateThread(nullptr, 0, PinnedWatchThread, module, 0, nullptr);
    if (thread)
        CloseHandle(thread);
    else
        FreeLibrary(module);
}

void StopRemovalWatch()
{
    if (HWND window = g_RemovalWatchWindow) SendMessageW(window, WM_CLOSE, 0, 0);
}

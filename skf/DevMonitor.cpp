#include "DevMonitor.h"

#include "Logger.h"
#include "DeviceLibrary.h"

#include <dbt.h>

#include <cstring>
#include <mutex>

extern HMODULE g_hModule;

namespace {

constexpr int kMonitorDialog = 101;
constexpr ULONG kMaxDevEntries = 16;
constexpr std::size_t kDevNameLen = 260;

// GUID_DEVINTERFACE_CDROM: the token shows itself as a CD-ROM drive.
constexpr GUID kCdromInterface = {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

struct DevEventEntry {
    ULONG inUse;
    char name[kDevNameLen];
    char spareName[kDevNameLen];
};

enum { kInsert, kRemove, kCancel, kEventCount };

// The table, the last names and the handles, shared by the monitor
// thread's window procedure and the waiting thread.
struct MonitorState {
    DevEventEntry table[kMaxDevEntries];
    char lastInserted[kDevNameLen];
    char lastRemoved[kDevNameLen];
    HANDLE events[kEventCount];
    HWND window;
    HDEVNOTIFY notification;
    bool firstWait = true;
};

MonitorState g_monitor;
std::mutex g_stateLock; // guards g_monitor
std::mutex g_runLock;   // one start or stop at a time

// Handed to the monitor thread; it reports its window, or none, and then
// leaves the record alone. The module reference is the thread's own.
struct ThreadStart {
    HANDLE ready;
    HWND window;
    HMODULE module;
};

void FillDevTable()
{
    char names[kMaxDevEntries * devicelib::UK_NAME_LEN] = {};
    std::uint32_t count = kMaxDevEntries;
    ULONG rc = g_FuncList ? g_FuncList->EnumToken(names, &count) : 0x1000000B;
    if (rc != devicelib::UK_OK) {
        LogMessage(LOG_ERROR, "UK_USB_EnumDevice err[%#lx]", rc);
        return;
    }
    std::lock_guard<std::mutex> guard(g_stateLock);
    for (std::uint32_t i = 0; i < count && i < kMaxDevEntries; ++i) {
        const char* name = names + i * devicelib::UK_NAME_LEN;
        for (DevEventEntry& entry : g_monitor.table) {
            if (entry.inUse) continue;
            strncpy_s(entry.name, name, _TRUNCATE);
            entry.inUse = 1;
            break;
        }
    }
}

void RegisterDevNotification(HWND window)
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kCdromInterface;
    HDEVNOTIFY notification = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    std::lock_guard<std::mutex> guard(g_stateLock);
    g_monitor.notification = notification;
}

void OnArrival(const char* name)
{
    std::uint32_t kind = 0;
    std::uint32_t reserved = 0;
    if (!g_FuncList || g_FuncList->CheckDevName(name, &kind, &reserved) != devicelib::UK_OK) return;
    LogMessage(LOG_DEBUG, "VESK UKey insert");
    std::lock_guard<std::mutex> guard(g_stateLock);
    for (DevEventEntry& entry : g_monitor.table) {
        if (entry.inUse || _stricmp(entry.name, name) == 0) continue;
        strncpy_s(entry.name, name, _TRUNCATE);
        entry.inUse = 1;
        break;
    }
    strncpy_s(g_monitor.lastInserted, name, _TRUNCATE);
    if (g_monitor.events[kInsert]) SetEvent(g_monitor.events[kInsert]);
}

void OnRemoval(const char* name)
{
    LogMessage(LOG_DEBUG, "VESK UKey out");
    std::lock_guard<std::mutex> guard(g_stateLock);
    for (DevEventEntry& entry : g_monitor.table) {
        if (!entry.inUse || _stricmp(entry.name, name) != 0) continue;
        entry.inUse = 0;
        strncpy_s(g_monitor.lastRemoved, name, _TRUNCATE);
        if (g_monitor.events[kRemove]) SetEvent(g_monitor.events[kRemove]);
        return;
    }
}

void OnDeviceChange(WPARAM change, LPARAM data)
{
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    if (change != DBT_DEVICEARRIVAL && change != DBT_DEVICEREMOVECOMPLETE) return;
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    char name[kDevNameLen] = {};
    WideCharToMultiByte(CP_ACP, 0, device->dbcc_name, -1, name, sizeof name - 1, nullptr, nullptr);
    if (change == DBT_DEVICEARRIVAL)
        OnArrival(name);
    else
        OnRemoval(name);
}

INT_PTR CALLBACK DevMonitorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        break;
    case WM_DESTROY: {
        HDEVNOTIFY notification;
        {
            std::lock_guard<std::mutex> guard(g_stateLock);
            notification = g_monitor.notification;
            g_monitor.notification = nullptr;
        }
        if (notification) UnregisterDeviceNotification(notification);
        PostQuitMessage(0);
        break;
    }
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        break;
    default:
        break;
    }
    return 0;
}

DWORD WINAPI DevMonitorThread(LPVOID parameter)
{
    auto* start = static_cast<ThreadStart*>(parameter);
    HWND window = CreateDialogParamW(g_hModule, MAKEINTRESOURCEW(kMonitorDialog), nullptr, DevMonitorProc, 0);
    if (!window) LogMessage(LOG_ERROR, "UKeyIOUtils CreateDialog err[%#lx]", GetLastError());
    start->window = window;
    SetEvent(start->ready);
    if (!window) return 1;
    ShowWindow(window, SW_HIDE);
    RegisterDevNotification(window);
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) continue;
        if (!TranslateAcceleratorW(msg.hwnd, nullptr, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 0;
}

// The thread holds a reference on the library while it runs and drops it
// as it ends: an application may free the library while the monitor runs,
// and the thread's code must outlive that.
DWORD WINAPI PinnedMonitorThread(LPVOID parameter)
{
    HMODULE module = static_cast<ThreadStart*>(parameter)->module;
    FreeLibraryAndExitThread(module, DevMonitorThread(parameter));
}

void CloseEvents(HANDLE (&events)[kEventCount])
{
    for (HANDLE& event : events) {
        if (event) CloseHandle(event);
        event = nullptr;
    }
}

// Runs with g_runLock held. The window is there when this returns, so a
// cancel right after it reaches the monitor.
void StartDevMonitor()
{
    // Cancel stays set, so it wakes every pending wait, not just one.
    HANDLE events[kEventCount] = {};
    for (int i = 0; i < kEventCount; ++i) events[i] = CreateEventW(nullptr, i == kCancel, FALSE, nullptr);
    {
        std::lock_guard<std::mutex> guard(g_stateLock);
        if (g_monitor.window) {
            CloseEvents(events);
            return;
        }
        std::memset(g_monitor.table, 0, sizeof g_monitor.table);
        std::memcpy(g_monitor.events, events, sizeof events);
    }
    FillDevTable();
    ThreadStart start {CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr, nullptr};
    HANDLE thread = nullptr;
    if (start.ready &&
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&PinnedMonitorThread),
                           &start.module)) {
        thread = CreateThread(nullptr, 0, PinnedMonitorThread, &start, 0, nullptr);
        if (!thread) FreeLibrary(start.module);
    }
    if (thread) {
        WaitForSingleObject(start.ready, INFINITE);
        CloseHandle(thread);
    } else {
        LogMessage(LOG_ERROR, "CreateThread err[%#lx]", GetLastError());
    }
    if (start.ready) CloseHandle(start.ready);
    std::lock_guard<std::mutex> guard(g_stateLock);
    g_monitor.window = start.window;
    if (!start.window) CloseEvents(g_monitor.events);
}

// The waiter keeps its own handles to the events, so a stop that closes
// the monitor's handles cannot pull them from under its wait.
bool TakeEvents(HANDLE (&events)[kEventCount])
{
    std::lock_guard<std::mutex> guard(g_stateLock);
    if (!g_monitor.window) return false;
    HANDLE self = GetCurrentProcess();
    for (int i = 0; i < kEventCount; ++i) {
        if (!DuplicateHandle(self, g_monitor.events[i], self, &events[i], 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            CloseEvents(events);
            return false;
        }
    }
    return true;
}

// The length counts the terminating NUL, on success and when the room is
// short alike.
ULONG HandOutName(const char* name, char* szDevName, ULONG* pulDevNameLen)
{
    ULONG len = static_cast<ULONG>(std::strlen(name)) + 1;
    if (*pulDevNameLen < len) {
        LogMessage(LOG_ERROR, "szDevName too short[%lu][%lu]", *pulDevNameLen, len);
        *pulDevNameLen = len;
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(szDevName, name, len);
    *pulDevNameLen = len;
    return SAR_OK;
}

// An arrival or removal whose name does not fit is signalled again, so the
// retry with the room asked for still gets it.
ULONG HandOutEvent(DWORD which, HANDLE (&events)[kEventCount], char* szDevName, ULONG* pulDevNameLen, ULONG* pulEvent)
{
    std::lock_guard<std::mutex> guard(g_stateLock);
    switch (which) {
    case WAIT_OBJECT_0 + kInsert:
    case WAIT_OBJECT_0 + kRemove: {
        const bool insert = which == WAIT_OBJECT_0 + kInsert;
        OutputDebugStringA(insert ? "Dev_WaitForEvent Insert" : "Dev_WaitForEvent Remove");
        ULONG rc = HandOutName(insert ? g_monitor.lastInserted : g_monitor.lastRemoved, szDevName, pulDevNameLen);
        if (rc == SAR_BUFFER_TOO_SMALL)
            SetEvent(events[which - WAIT_OBJECT_0]);
        else
            *pulEvent = insert ? DEV_EVENT_INSERT : DEV_EVENT_REMOVE;
        return rc;
    }
    case WAIT_OBJECT_0 + kCancel:
        OutputDebugStringA("Dev_WaitForEvent cancel");
        *pulEvent = DEV_EVENT_CANCEL;
        return SAR_OK;
    default:
        return kDevEventWaitFailed;
    }
}

} // namespace

ULONG Dev_WaitForEvent(char* szDevName, ULONG* pulDevNameLen, ULONG* pulEvent)
{
    HANDLE events[kEventCount] = {};
    {
        std::lock_guard<std::mutex> run(g_runLock);
        if (g_monitor.firstWait) StartDevMonitor();
        // A monitor that could not start is tried again by the next wait.
        if (!TakeEvents(events)) return kDevEventWaitFailed;
        g_monitor.firstWait = false;
    }
    DWORD which = WaitForMultipleObjects(kEventCount, events, FALSE, INFINITE);
    ULONG rc = HandOutEvent(which, events, szDevName, pulDevNameLen, pulEvent);
    CloseEvents(events);
    return rc;
}

void StopDevMonitor()
{
    std::lock_guard<std::mutex> run(g_runLock);
    HWND window;
    HANDLE events[kEventCount];
    {
        std::lock_guard<std::mutex> guard(g_stateLock);
        window = g_monitor.window;
        if (!window) return;
        std::memcpy(events, g_monitor.events, sizeof events);
        std::memset(g_monitor.events, 0, sizeof g_monitor.events);
        g_monitor.window = nullptr;
        g_monitor.firstWait = true;
    }
    SetEvent(events[kCancel]);
    SendMessageW(window, WM_CLOSE, 0, 0);
    CloseEvents(events);
}

// Under the loader lock nothing may wait for another thread. A monitor
// holds the library, so one that runs here is being torn down with the
// process: it is only asked to close.
void StopDevMonitorAtDetach()
{
    // A thread ended with the process may have left the lock taken.
    std::unique_lock<std::mutex> guard(g_stateLock, std::try_to_lock);
    if (!guard.owns_lock() || !g_monitor.window) return;
    SetEvent(g_monitor.events[kCancel]);
    PostMessageW(g_monitor.window, WM_CLOSE, 0, 0);
    g_monitor.window = nullptr;
}

#include "PinShade.h"

#include "DebugLog.h"
#include "MessageTable.h"
#include "ModuleHandle.h"
#include "PinCache.h"
#include "PinInputDlg.h"
#include "TokenAccess.h"
#include "resource.h"

#include <cstring>

namespace {

constexpr BYTE kShadeAlpha = 127;
constexpr DWORD kPromptDelayMs = 800;
constexpr unsigned kMessageRoom = 1024; // wsprintfW's own limit

typedef BOOL(WINAPI* PFN_InstallShieldHotKeyHook)(HWND window);
typedef BOOL(WINAPI* PFN_UnInstallShieldHotKeyHook)();

// The hook library is taken from the provider's own folder only: through
// the default search order a copy planted in the current directory would
// run inside every signing process.
HMODULE LoadShieldHotKey()
{
    const wchar_t name[] = L"ShieldHotKey.dll";
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(CspModuleHandle(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::size_t folder = length;
    while (folder > 0 && path[folder - 1] != L'\\' && path[folder - 1] != L'/') --folder;
    if (folder == 0 || folder + sizeof name / sizeof name[0] > MAX_PATH) return nullptr;
    std::memcpy(path + folder, name, sizeof name);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

CClockFullScreen::~CClockFullScreen()
{
    SecureZeroMemory(m_pin, sizeof m_pin);
    m_pinLength = 0;
    if (m_hShieldHotKey) FreeLibrary(m_hShieldHotKey);
    if (m_hBlackBrush) DeleteObject(m_hBlackBrush);
}

INT_PTR CClockFullScreen::DoModal(HWND owner)
{
    return DialogBoxParamW(CspModuleHandle(), MAKEINTRESOURCEW(IDD_PIN_SHADE), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CClockFullScreen::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* shade = reinterpret_cast<CClockFullScreen*>(lParam);
        shade->m_hWnd = window;
        shade->OnInitDialog();
        return FALSE;
    }
    auto* shade = reinterpret_cast<CClockFullScreen*>(GetWindowLongPtrW(window, DWLP_USER));
    return shade ? shade->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CClockFullScreen::HandleMessage(UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(m_hWnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, m_hBlackBrush);
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, 1);
        return TRUE;
    }
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_SHOW_PIN_DIALOG:
        if (!m_closing) PinPromptLoop();
        return TRUE;
    default:
        return FALSE;
    }
}

void CClockFullScreen::OnInitDialog()
{
    m_hBlackBrush = CreateSolidBrush(RGB(0, 0, 0));
    SetWindowPos(m_hWnd, nullptr, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_hWnd, 0, kShadeAlpha, LWA_ALPHA);

    m_hShieldHotKey = LoadShieldHotKey();
    if (m_hShieldHotKey) {
        auto install = reinterpret_cast<PFN_InstallShieldHotKeyHook>(
            reinterpret_cast<void*>(GetProcAddress(m_hShieldHotKey, "InstallShieldHotKeyHook")));
        if (install) {
            install(m_hWnd);
        } else {
            FreeLibrary(m_hShieldHotKey);
            m_hShieldHotKey = nullptr;
        }
    }

    SetFocus(m_hWnd);
    // The thread keeps the provider loaded while it sleeps: the caller may
    // release its last context, and with it the library, before it wakes.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&PromptDelayThread), &self);
    HANDLE thread = CreateThread(nullptr, 0, PromptDelayThread, m_hWnd, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        if (self) FreeLibrary(self);
        PostMessageW(m_hWnd, WM_SHOW_PIN_DIALOG, 0, 0);
    }
}

DWORD WINAPI CClockFullScreen::PromptDelayThread(LPVOID window)
{
    Sleep(kPromptDelayMs);
    PostMessageW(static_cast<HWND>(window), WM_SHOW_PIN_DIALOG, 0, 0);
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&PromptDelayThread), &self);
    FreeLibraryAndExitThread(self, 0);
}

void CClockFullScreen::OnCommand(WORD id)
{
    // Enter before the prompt is up verified nothing: it cancels, so no
    // empty PIN reaches the token and costs a try.
    if (id == IDOK) {
        Close(m_pinLength ? kShadeVerified : kShadeCancelled);
    } else if (id == IDCANCEL) {
        Close(kShadeCancelled);
    }
}

void CClockFullScreen::PinPromptLoop()
{
    const wchar_t* const* texts = GetMessageTable()->texts;
    std::uint32_t triesLeft = 0;
    for (;;) {
        CPINInputDlg dialog;
        INT_PTR answer = dialog.DoModal(m_hWnd);
        if (answer == -1) {
            SetLastError(ERROR_OUTOFMEMORY);
            Close(kShadeCancelled);
            return;
        }
        if (answer != IDOK) {
            Close(kShadeCancelled);
            return;
        }
        std::uint32_t length = dialog.PinLength() < sizeof m_pin ? dialog.PinLength() : sizeof m_pin;
        std::memcpy(m_pin, dialog.Pin(), length);
        dialog.WipePin();
        DWORD status = Token_Login(m_pSession, m_pin, length);
        if (status == 0) {
            m_pinLength = length;
            std::memcpy(m_pSession->pin, m_pin, length);
            m_pSession->pinLength = static_cast<std::uint8_t>(length);
            PinCache_Store(m_pSession);
            Close(kShadeVerified);
            return;
        }
        SecureZeroMemory(m_pin, sizeof m_pin);

        wchar_t message[kMessageRoom];
        if (devicelib::IsWrongPin(status)) {
            // The refusal itself carries the count the card had left, the
            // fallback when the token cannot be asked again.
            triesLeft = ReadTriesLeft(triesLeft ? triesLeft : devicelib::TriesLeft(status));
            if (triesLeft) {
                wsprintfW(message, texts[MSG_WRONG_PIN], static_cast<int>(triesLeft));
                ShowMessage(message);
                continue;
            }
            ShowMessage(texts[MSG_PIN_LOCKED]);
            Close(static_cast<INT_PTR>(status));
        } else if (status == devicelib::UK_SW_PIN_BLOCKED) {
            ShowMessage(texts[MSG_PIN_LOCKED]);
            Close(static_cast<INT_PTR>(status));
        } else {
            wsprintfW(message, texts[MSG_OPERATION_FAILED], status);
            ShowMessage(message);
            Close(static_cast<INT_PTR>(status));
        }
        return;
    }
}

std::uint32_t CClockFullScreen::ReadTriesLeft(std::uint32_t previous)
{
    std::uint32_t info = 0;
    std::uint32_t status =
        m_pSession->funcs->GetRetryTimes(m_pSession->device, devicelib::UK_PIN_USER, devicelib::UK_PIN_USER, &info);
    if (status != 0) {
        LogLine("---->GetRetryTimes Error. Code : ");
        LogCode(status);
        return previous;
    }
    return info & 0xFFFF;
}

void CClockFullScreen::ShowMessage(const wchar_t* text)
{
    MessageBoxW(m_hWnd, text, GetMessageTable()->texts[MSG_ERROR_TITLE], MB_OK);
}

void CClockFullScreen::Close(INT_PTR result)
{
    m_closing = true;
    if (m_hShieldHotKey) {
        auto uninstall = reinterpret_cast<PFN_UnInstallShieldHotKeyHook>(
            reinterpret_cast<void*>(GetProcAddress(m_hShieldHotKey, "UnInstallShieldHotKeyHook")));
        if (uninstall) {
            uninstall();
        } else {
            FreeLibrary(m_hShieldHotKey);
            m_hShieldHotKey = nullptr;
        }
    }
    EndDialog(m_hWnd, result);
}

DWORD ShowPinShade(HWND owner, TokenSession* session, std::uint8_t* pin, std::uint32_t* pinLength)
{
    CClockFullScreen shade(session);
    INT_PTR result = shade.DoModal(owner);
    // The token's refusal (blocked, no tries left) is the caller's to
    // answer: it is no cancel.
    if (result != kShadeVerified && result != kShadeCancelled && result != -1) return static_cast<DWORD>(result);
    if (result != kShadeVerified || shade.PinLength() == 0) return kPinShadeFailed;
    std::memcpy(pin, shade.Pin(), shade.PinLength());
    *pinLength = shade.PinLength();
    return 0;
}

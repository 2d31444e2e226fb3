#include "SoftKeyboard.h"

#include "MessageTable.h"
#include "ModuleHandle.h"
#include "SafeEdit.h"
#include "resource.h"

#include <cstdlib>

namespace {

constexpr char kLowerKeys[] = "1234567890abcdefghijklmnopqrstuvwxyz";
constexpr char kUpperKeys[] = "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr BYTE kKeyboardAlpha = 252;
constexpr int kFontPoints = 13;
constexpr wchar_t kFontName[] = L"\x5FAE\x8F6F\x96C5\x9ED1"; // Microsoft YaHei
constexpr LPARAM kSoftKeyLParam = static_cast<LPARAM>(0xFFFF0000u);
constexpr int kKeyTextRoom = 8;
constexpr int kBelowOwnerTop = 110;
constexpr int kLeftOfOwnerRight = 30;

bool IsKey(WORD id)
{
    return id >= IDC_SOFT_KEY_FIRST && id < IDC_SOFT_KEY_FIRST + kSoftKeyCount;
}

} // namespace

void ShuffleSoftKeys(unsigned seed, int permutation[kSoftKeyCount])
{
    std::srand(seed);
    bool taken[kSoftKeyCount] = {};
    for (int filled = 0; filled < kSoftKeyCount;) {
        int value = std::rand() % kSoftKeyCount;
        if (taken[value]) continue;
        taken[value] = true;
        permutation[filled++] = value;
    }
}

CSoftKBDlg::~CSoftKBDlg()
{
    Destroy();
    if (m_hFont) DeleteObject(m_hFont);
}

bool CSoftKBDlg::Create(HWND owner)
{
    m_hWnd = CreateDialogParamW(CspModuleHandle(), MAKEINTRESOURCEW(IDD_SOFT_KEYBOARD), owner, DialogProc,
                                reinterpret_cast<LPARAM>(this));
    if (m_hWnd) ShowWindow(m_hWnd, SW_HIDE);
    return m_hWnd != nullptr;
}

void CSoftKBDlg::Destroy()
{
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
}

INT_PTR CALLBACK CSoftKBDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* keyboard = reinterpret_cast<CSoftKBDlg*>(lParam);
        keyboard->m_hWnd = window;
        keyboard->OnInitDialog();
        return FALSE;
    }
    auto* keyboard = reinterpret_cast<CSoftKBDlg*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!keyboard) return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) keyboard->OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        ShowWindow(window, SW_HIDE);
        return TRUE;
    default:
        return FALSE;
    }
}

void CSoftKBDlg::OnInitDialog()
{
    RECT owner = {};
    GetWindowRect(GetWindow(m_hWnd, GW_OWNER), &owner);
    SetWindowPos(m_hWnd, nullptr, owner.right - kLeftOfOwnerRight, owner.top + kBelowOwnerTop, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(m_hWnd, GetMessageTable()->texts[MSG_SOFT_KEYBOARD]);
    m_upperCase = 0;
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_hWnd, 0, kKeyboardAlpha, LWA_ALPHA);

    HDC screen = GetDC(nullptr);
    int height = -MulDiv(kFontPoints, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    m_hFont = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, kFontName);
    for (int i = 0; i < kSoftKeyCount; ++i) {
        SendDlgItemMessageW(m_hWnd, IDC_SOFT_KEY_FIRST + i, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);
    }
    SendDlgItemMessageW(m_hWnd, IDC_SOFT_SHIFT, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);
    SendDlgItemMessageW(m_hWnd, IDC_SOFT_BACKSPACE, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);

    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ShuffleSoftKeys(now.dwLowDateTime, m_permutation);
    LabelKeys();
}

void CSoftKBDlg::LabelKeys()
{
    const char* keys = m_upperCase ? kUpperKeys : kLowerKeys;
    for (int i = 0; i < kSoftKeyCount; ++i) {
        wchar_t label[2] = {static_cast<wchar_t>(keys[m_permutation[i]]), 0};
        SetDlgItemTextW(m_hWnd, IDC_SOFT_KEY_FIRST + i, label);
    }
}

void CSoftKBDlg::OnCommand(WORD id)
{
    HWND target = *m_pTargetEdit;
    if (id == IDC_SOFT_SHIFT) {
        m_upperCase = !m_upperCase;
        LabelKeys();
    } else if (id == IDC_SOFT_BACKSPACE) {
        SendMessageW(target, WM_SOFT_KEY_CHAR, VK_BACK, kSoftKeyLParam);
    } else if (IsKey(id)) {
        wchar_t text[kKeyTextRoom + 1] = {};
        GetDlgItemTextW(m_hWnd, id, text, kKeyTextRoom + 1);
        SendMessageW(target, WM_SOFT_KEY_CHAR, static_cast<WPARAM>(text[0] & 0xFF), kSoftKeyLParam);
        SetFocus(target);
    }
}

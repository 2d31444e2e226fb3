#include "SafeEdit.h"

#include "ModuleHandle.h"
#include "SafeEditKeys.h"

#include <commctrl.h>

namespace {

constexpr UINT_PTR kSubclassId = 0x5AFE;
constexpr WPARAM kMaskChar = '*';

// The record of the secure edit that has the focus; the hook procedures
// run on its thread, through its message loop.
HiddenText* g_activeText = nullptr;

struct Selection {
    DWORD start;
    DWORD end;
};

Selection ReadSelection(HWND edit)
{
    Selection selection = {};
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selection.start),
                 reinterpret_cast<LPARAM>(&selection.end));
    return selection;
}

// Backspace and Delete: the selection goes, or one character before or at
// the caret.
void RemoveForKey(HiddenText* hidden, bool before)
{
    Selection selection = ReadSelection(hidden->edit);
    if (selection.end > selection.start) {
        HiddenText_Remove(hidden, selection.start, selection.end - selection.start);
    } else if (!before) {
        HiddenText_Remove(hidden, selection.start, 1);
    } else if (selection.start > 0) {
        HiddenText_Remove(hidden, selection.start - 1, 1);
    }
}

// Replaces the selection, or puts the character at the caret.
void InsertAtSelection(HiddenText* hidden, char character)
{
    Selection selection = ReadSelection(hidden->edit);
    if (selection.end > selection.start) HiddenText_Remove(hidden, selection.start, selection.end - selection.start);
    HiddenText_Insert(hidden, selection.start, static_cast<std::uint8_t>(character));
}

// Keeps ordinary keyboard hooks of this thread from seeing the keys.
LRESULT CALLBACK DebugHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == WH_KEYBOARD) return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

KeyModifiers CurrentModifiers()
{
    return {(GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0, (GetKeyState(VK_CAPITAL) & 1) != 0,
            (GetKeyState(VK_NUMLOCK) & 1) != 0};
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    HiddenText* hidden = g_activeText;
    if (code != HC_ACTION || wParam != WM_KEYDOWN || !hidden) return CallNextHookEx(nullptr, code, wParam, lParam);
    if (GetAsyncKeyState(VK_CONTROL) & 0x8000) return 1;
    const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    SafeKey key = MapSafeEditKey(event->vkCode, CurrentModifiers());
    switch (key.action) {
    case SafeKeyAction::Swallow:
        return 1;
    case SafeKeyAction::Character:
        InsertAtSelection(hidden, key.character);
        SendMessageW(hidden->edit, WM_CHAR, kMaskChar, 0);
        return 1;
    case SafeKeyAction::Backspace:
    case SafeKeyAction::Delete:
        RemoveForKey(hidden, key.action == SafeKeyAction::Backspace);
        break;
    case SafeKeyAction::Pass:
        break;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

CMySafeEdit::~CMySafeEdit()
{
    RemoveHooks();
    Unsubclass();
    HiddenText_Clear(&m_hidden);
}

bool CMySafeEdit::SubclassWindow(HWND edit)
{
    m_hidden.edit = edit;
    return SetWindowSubclass(edit, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

void CMySafeEdit::Unsubclass()
{
    if (m_hidden.edit && IsWindow(m_hidden.edit)) RemoveWindowSubclass(m_hidden.edit, SubclassProc, kSubclassId);
}

LRESULT CALLBACK CMySafeEdit::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR self)
{
    auto* edit = reinterpret_cast<CMySafeEdit*>(self);
    if (message == WM_NCDESTROY) {
        edit->RemoveHooks();
        RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return edit->HandleMessage(message, wParam, lParam);
}

LRESULT CMySafeEdit::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETFOCUS:
        OnSetFocus();
        break;
    case WM_KILLFOCUS:
        RemoveHooks();
        break;
    case WM_LBUTTONDOWN:
        SetFocus(m_hidden.edit);
        return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_CUT:
    case WM_PASTE:
        return 0;
    case WM_SOFT_KEY_CHAR:
        OnSoftKey(static_cast<char>(LOBYTE(wParam)));
        return 0;
    default:
        break;
    }
    return DefSubclassProc(m_hidden.edit, message, wParam, lParam);
}

void CMySafeEdit::OnSetFocus()
{
    RemoveHooks();
    g_activeText = &m_hidden;
    if (m_pTargetEdit) *m_pTargetEdit = m_hidden.edit;
    auto limit = static_cast<std::uint32_t>(SendMessageW(m_hidden.edit, EM_GETLIMITTEXT, 0, 0));
    m_hidden.limit = limit < kHiddenTextRoom ? limit : kHiddenTextRoom;
    m_hidden.debugHook = SetWindowsHookExW(WH_DEBUG, DebugHookProc, nullptr, GetCurrentThreadId());
    if (m_hidden.debugHook) {
        m_hidden.keyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHookProc, CspModuleHandle(), 0);
    }
}

void CMySafeEdit::RemoveHooks()
{
    if (m_hidden.keyboardHook) UnhookWindowsHookEx(m_hidden.keyboardHook);
    if (m_hidden.debugHook) UnhookWindowsHookEx(m_hidden.debugHook);
    m_hidden.keyboardHook = nullptr;
    m_hidden.debugHook = nullptr;
    // No hook may reach a record that is about to go.
    if (g_activeText == &m_hidden) g_activeText = nullptr;
}

void CMySafeEdit::OnSoftKey(char character)
{
    HWND edit = m_hidden.edit;
    if (character == VK_BACK) {
        RemoveForKey(&m_hidden, true);
        SendMessageW(edit, WM_CHAR, VK_BACK, 0);
        return;
    }
    InsertAtSelection(&m_hidden, character);
    bool masked = m_hidden.count == static_cast<std::uint32_t>(GetWindowTextLengthW(edit)) + 1;
    SendMessageW(edit, WM_CHAR, masked ? kMaskChar : static_cast<WPARAM>(static_cast<unsigned char>(character)), 0);
}

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
// Backspace or Delete already applied to the hidden text by the hook, whose
// message to the control is still to come; 0 when none.
DWORD g_keyApplied = 0;
// Set while this code hands the control a character of its own.
bool g_sendingOwnChar = false;

void SendOwnChar(HWND edit, WPARAM character)
{
    g_sendingOwnChar = true;
    SendMessageW(edit, WM_CHAR, character, 0);
    g_sendingOwnChar = false;
}

bool IsPinCharacter(WPARAM character)
{
    return character >= 0x20 && character < 0x7F;
}

struct Selection {
    DWORD start;
    DWORD end;
};

Selection ReadSelection(HWND edit)
{
    Selection selection = {};
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selection.start), reinterpret_cast<LPARAM>(&selection.end));
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

// Removes the selection from the hidden text; returns where it began.
DWORD RemoveSelection(HiddenText* hidden)
{
    Selection selection = ReadSelection(hidden->edit);
    if (selection.end > selection.start) HiddenText_Remove(hidden, selection.start, selection.end - selection.start);
    return selection.start;
}

bool TakeAppliedKey(DWORD key)
{
    bool applied = g_keyApplied == key;
    g_keyApplied = 0;
    return applied;
}

// Replaces the selection, or puts the character at the caret.
void InsertAtSelection(HiddenText* hidden, char character)
{
    HiddenText_Insert(hidden, RemoveSelection(hidden), static_cast<std::uint8_t>(character));
}

// Keeps ordinary keyboard hooks of this thread from seeing the keys.
LRESULT CALLBACK DebugHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == WH_KEYBOARD) return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool IsHeld(int key)
{
    return (GetAsyncKeyState(key) & 0x8000) != 0;
}

// The state of the keyboard now: the thread's own state lags behind the
// keys a low-level hook sees.
KeyModifiers CurrentModifiers()
{
    return {IsHeld(VK_SHIFT), (GetKeyState(VK_CAPITAL) & 1) != 0, (GetKeyState(VK_NUMLOCK) & 1) != 0,
            IsHeld(VK_CONTROL), IsHeld(VK_MENU)};
}

// The layout of the thread the user types to, which is what the keyboard
// shows.
HKL FocusedLayout()
{
    HWND foreground = GetForegroundWindow();
    return GetKeyboardLayout(foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0);
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    HiddenText* hidden = g_activeText;
    // Alt without Ctrl makes system keys, which pass; AltGr (Ctrl and Alt)
    // makes ordinary ones.
    if (code != HC_ACTION || wParam != WM_KEYDOWN || !hidden) return CallNextHookEx(nullptr, code, wParam, lParam);
    const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    SafeKey key = MapSafeEditKey(event->vkCode, event->scanCode, CurrentModifiers(), FocusedLayout());
    switch (key.action) {
    case SafeKeyAction::Swallow:
        return 1;
    case SafeKeyAction::Character:
        InsertAtSelection(hidden, key.character);
        SendOwnChar(hidden->edit, kMaskChar);
        return 1;
    case SafeKeyAction::Backspace:
    case SafeKeyAction::Delete:
        RemoveForKey(hidden, key.action == SafeKeyAction::Backspace);
        g_keyApplied = key.action == SafeKeyAction::Backspace ? VK_BACK : VK_DELETE;
        break;
    case SafeKeyAction::Pass:
        break;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

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
        g_keyApplied = 0;
        break;
    case WM_LBUTTONDOWN:
        SetFocus(m_hidden.edit);
        return 0;
    // The hidden text is the PIN: nothing may change the control's text
    // past it, and the control never holds more than masks.
    case WM_MOUSEMOVE:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_CONTEXTMENU:
    case WM_CUT:
    case WM_PASTE:
    case WM_UNDO:
    case EM_UNDO:
    case EM_REPLACESEL:
        return 0;
    case WM_CHAR:
        if (!g_sendingOwnChar) return OnForeignChar(wParam);
        break;
    case WM_KEYDOWN:
        // Shift+Insert pastes without WM_PASTE; Delete that did not pass
        // the hook is applied here.
        if (wParam == VK_INSERT) return 0;
        if (wParam == VK_DELETE && !TakeAppliedKey(VK_DELETE)) RemoveForKey(&m_hidden, false);
        break;
    case WM_CLEAR:
        RemoveSelection(&m_hidden);
        break;
    case WM_SETTEXT:
        // Only clearing is allowed, and it clears the hidden text too.
        if (lParam && *reinterpret_cast<const wchar_t*>(lParam)) return FALSE;
        HiddenText_Clear(&m_hidden);
        break;
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
        SendOwnChar(edit, VK_BACK);
        return;
    }
    // The control shows a mask whatever the selection was; the character
    // itself stays in the hidden text.
    InsertAtSelection(&m_hidden, character);
    SendOwnChar(edit, kMaskChar);
}

// A character that did not come through the hook: an input method, an
// on-screen keyboard, a Unicode keystroke or another program.
LRESULT CMySafeEdit::OnForeignChar(WPARAM character)
{
    HWND edit = m_hidden.edit;
    if (character == VK_BACK) {
        if (!TakeAppliedKey(VK_BACK)) RemoveForKey(&m_hidden, true);
        SendOwnChar(edit, VK_BACK);
        return 0;
    }
    if (!IsPinCharacter(character)) return 0;
    // The edit's limit refuses the mask when the hidden text refuses the
    // character.
    InsertAtSelection(&m_hidden, static_cast<char>(character));
    SendOwnChar(edit, kMaskChar);
    return 0;
}
